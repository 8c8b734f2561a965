#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a baseline or progressive JPEG with libjpeg. A damaged or
// oversized picture gives a null image, never a crash or an exit.
QImage DecodeJpeg(const QByteArray& data);
