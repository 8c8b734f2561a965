#include "ApplicationTitle.h"

#include "ProgramTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

QString TitleFromFileName(const QString& fileName)
{
    return QString::fromStdString(ProgramTitle(fileName.toStdString()));
}

QString ApplicationTitle()
{
    return TitleFromFileName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}
