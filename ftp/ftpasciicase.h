#pragma once

// Case rules for the words of the protocol (fact names, feature names,
// encoding names): plain ASCII, whatever the user's locale says.

#include <cstddef>
#include <string_view>

namespace ftpascii {

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

} // namespace ftpascii
