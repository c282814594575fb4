#include "profiles/sitechoices.h"

#include "net/wsocketaddress.h"
#include "profiles/inifile.h"

namespace {

const char* const kFtpPort = "21";
const char* const kImplicitPort = "990";

} // namespace

std::string EncryptionText(TFtpEncryption value)
{
    switch (value) {
    case TFtpEncryption::None:
        return "none";
    case TFtpEncryption::ExplicitRequired:
        return "explicit";
    case TFtpEncryption::ExplicitIfOffered:
        return "explicit-if-offered";
    case TFtpEncryption::Implicit:
        return "implicit";
    }
    return "explicit";
}

TFtpEncryption EncryptionFromText(const std::string& text)
{
    const std::string folded = FoldName(TrimIniBlanks(text));
    if (folded.empty() || folded == "none" || folded == "0")
        return TFtpEncryption::None;
    if (folded == "explicit-if-offered" || folded == "2")
        return TFtpEncryption::ExplicitIfOffered;
    if (folded == "implicit" || folded == "3")
        return TFtpEncryption::Implicit;
    return TFtpEncryption::ExplicitRequired;
}

std::string ServerEncodingText(TFtpServerEncoding value)
{
    switch (value) {
    case TFtpServerEncoding::Auto:
        return "Auto";
    case TFtpServerEncoding::Utf8:
        return "UTF-8";
    case TFtpServerEncoding::Latin1:
        return "Latin-1";
    }
    return "Auto";
}

TFtpServerEncoding ServerEncodingFromText(const std::string& text)
{
    const std::string folded = FoldName(TrimIniBlanks(text));
    if (folded == "utf-8" || folded == "utf8" || folded == "1")
        return TFtpServerEncoding::Utf8;
    if (folded == "latin-1" || folded == "latin1" || folded == "iso-8859-1" || folded == "2")
        return TFtpServerEncoding::Latin1;
    return TFtpServerEncoding::Auto;
}

std::string SuggestedPort(TFtpEncryption encryption, const std::string& port)
{
    const std::string typed = TrimBlanks(port);
    if (encryption == TFtpEncryption::Implicit && (typed == kFtpPort || typed.empty()))
        return kImplicitPort;
    if (encryption != TFtpEncryption::Implicit && typed == kImplicitPort)
        return kFtpPort;
    return port;
}

std::string HostFieldText(const std::string& typed, std::string& port)
{
    std::string text = TrimBlanks(typed);
    if (WSocketIsIPv6(text))
        return WSocketStripBrackets(text);
    // "[address]:port"
    const std::size_t close = text.rfind("]:");
    if (!text.empty() && text.front() == '[' && close != std::string::npos) {
        const std::string address = text.substr(0, close + 1);
        const std::string digits = text.substr(close + 2);
        const bool numeric = !digits.empty() && digits.size() <= 5 &&
                             digits.find_first_not_of("0123456789") == std::string::npos;
        if (numeric && WSocketIsIPv6(address)) {
            port = digits;
            return WSocketStripBrackets(address);
        }
    }
    return text;
}

std::string HostFieldText(const std::string& typed)
{
    std::string unused;
    return HostFieldText(typed, unused);
}
