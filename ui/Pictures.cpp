#include "Pictures.h"

#include <QFile>

// Resources in a static library are only linked in when asked for. The
// macro declares a function, so this stays outside any namespace.
static void LoadResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)loaded;
}

QPixmap SocketPicture()
{
    LoadResources();
    return QPixmap(QStringLiteral(":/socket.png"));
}

QIcon ApplicationIcon()
{
    LoadResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icon-32.png"), QSize(32, 32));
    return icon;
}

QByteArray StartPictureJpeg()
{
    LoadResources();
    QFile file(QStringLiteral(":/start.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
