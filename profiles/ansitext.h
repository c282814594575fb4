#pragma once

#include <string>

// Account files may come in the ANSI code page (Windows-1252) or in UTF-8,
// which is what we write. Returns the text as UTF-8 either way, with
// a leading byte-order mark removed.
std::string AnsiOrUtf8ToUtf8(const std::string& bytes);
