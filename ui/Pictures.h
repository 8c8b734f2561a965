#pragma once

#include <QByteArray>
#include <QIcon>
#include <QPixmap>

// The pictures compiled into the program.
QPixmap SocketPicture();    // 44 x 43, black on white
QIcon ApplicationIcon();    // 16 x 16 and 32 x 32
QByteArray StartPictureJpeg();
