#pragma once

#include "platform/exception.h"

#include <string>

// Every refusal and failure of the socket layer that is not routed to an
// OnError handler surfaces as this exception; it carries only its message.
class ESocketException : public Exception {
public:
    explicit ESocketException(const std::string& message) : Exception(message) {}
};
