#pragma once

// The words of a command line, walked one at a time by the option readers
// of tarvik-ftp and tarvik-url.

#include <cstddef>
#include <string>
#include <vector>

class TOptionWords {
public:
    explicit TOptionWords(const std::vector<std::string>& words) : words_(words) {}

    bool AtEnd() const { return next_ >= words_.size(); }
    // Moves to the next word and returns it (the current word).
    const std::string& Next();
    // Takes the word after the current one as the current option's value;
    // false, with "option <name> needs a value" in `error`, when there is
    // none.
    bool Value(std::string& into, std::string& error);

private:
    const std::vector<std::string>& words_;
    std::size_t current_ = 0;
    std::size_t next_ = 0;
};

// True for a non-empty text of the digits 0-9 alone.
bool AllDigits(const std::string& text);
