#include "ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

QString TitleFromFileName(const QString& fileName)
{
    const QString name = fileName.section(QLatin1Char('.'), 0, 0);
    return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle()
{
    return TitleFromFileName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}
