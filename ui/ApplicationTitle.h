#pragma once

#include <QString>

// The title made from an executable's file name: the name up to its first
// ".", every character after the first in lower case ("ROR.EXE" -> "Ror").
QString TitleFromFileName(const QString& fileName);
QString ApplicationTitle();
