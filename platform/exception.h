#pragma once

#include <stdexcept>
#include <string>

// The framework's exception base class: carries a message and nothing more.
// ESocketException, FtpException, EHttpException and TICMPException derive
// from it.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};
