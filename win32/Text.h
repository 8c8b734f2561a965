#pragma once

#include <string>

// The engine's texts are UTF-8; the system's are UTF-16. Text that is not
// UTF-8 is taken in the system's code page.
std::wstring Wide(const std::string& text);
std::string Utf8(const std::wstring& text);
