#pragma once

#include "platform/exception.h"

#include <cstdint>
#include <string>

// Error codes carried by EHttpException besides the HTTP status codes (400
// and above) that a synchronous request raises. The same numbers are the
// error values that OnRequestDone reports for requests that ended locally
// (socket failures report their Winsock number instead).
enum THttpErrorCode : std::uint16_t {
    httperrBusy = 1,
    httperrNothingToPost = 2,
    httperrAborted = 3,
    httperrLineTooLong = 4,
    httperrTooManyRedirections = 5,
    httperrDocumentIncomplete = 6,
    httperrNoResponse = 7,
    httperrHeadersTooLarge = 8,
    httperrUnsupportedProtocol = 9,
};

class EHttpException : public Exception {
public:
    EHttpException(const std::string& message, std::uint16_t errorCode) : Exception(message), errorCode_(errorCode) {}

    std::uint16_t ErrorCode() const { return errorCode_; }

private:
    std::uint16_t errorCode_;
};
