#include "cli/visibletext.h"

std::string VisibleText(const std::string& text, bool keepLineEnds)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineEnd = keepLineEnds && (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'));
        if ((c >= 0x20 && c != 0x7f) || c == '\t' || lineEnd) {
            out += char(c);
            continue;
        }
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 0x0f];
    }
    return out;
}
