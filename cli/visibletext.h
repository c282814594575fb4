#pragma once

// Text from an FTP server made safe for a terminal: every control character
// other than TAB (and, for multi-line text, the line ends) is shown as \xNN,
// so a hostile server cannot move the cursor, retitle the window or worse.

#include <string>

// With keepLineEnds, LF and a CR right before an LF stay as they are.
std::string VisibleText(const std::string& text, bool keepLineEnds = false);
