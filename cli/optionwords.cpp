#include "cli/optionwords.h"

const std::string& TOptionWords::Next()
{
    current_ = next_++;
    return words_[current_];
}

bool TOptionWords::Value(std::string& into, std::string& error)
{
    if (next_ >= words_.size()) {
        error = "option " + words_[current_] + " needs a value";
        return false;
    }
    into = words_[next_++];
    return true;
}

bool AllDigits(const std::string& text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}
