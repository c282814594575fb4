#pragma once

#include <string>

// Account files written by the Windows releases are in the ANSI code page
// (Windows-1252); ours are UTF-8. Returns the text as UTF-8 either way, with
// a leading byte-order mark removed.
std::string AnsiOrUtf8ToUtf8(const std::string& bytes);
