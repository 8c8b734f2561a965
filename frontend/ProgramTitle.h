#pragma once

#include <string>

// The program's title, for the failure notice: an executable's file name up
// to its first ".", every character after the first in lower case
// ("ROR.EXE" -> "Ror"; ASCII letters).
std::string ProgramTitle(const std::string& fileName);
