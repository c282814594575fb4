// The 227 parser and the number and quoted-name readers of FTP replies.

#include "ftp/customftpcli.h"
#include "fuzzsupport.h"

#include <string>

namespace {

// Reaches the engine's own parser of a passive-mode reply.
class TPasvProbe : public TCustomFtpCli {
public:
    bool Parse(const std::string& reply, std::string& port)
    {
        FPasvReply = reply;
        return PassivePortFromReply(port);
    }
};

TPasvProbe& Probe()
{
    static auto* probe = new TPasvProbe();
    return *probe;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnsureEventLoop();
    Probe();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char*>(data), size);

    std::string port = "unchanged";
    if (Probe().Parse(reply, port)) {
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            fuzz::Fail("the 227 parser accepted and gave a port that is no number: " + port);
        const long value = std::stol(port);
        if (value < 1 || value > 65535)
            fuzz::Fail("the 227 parser accepted port " + port);
    }

    std::size_t pos = 0;
    const std::int64_t code = TCustomFtpCli::ReadNumber(reply, pos);
    if (pos > reply.size())
        fuzz::Fail("ReadNumber moved past the end of the text");
    (void)code;
    const std::string quoted = TCustomFtpCli::ReadQuoted(reply, pos);
    if (pos > reply.size())
        fuzz::Fail("ReadQuoted moved past the end of the text");
    if (quoted.size() > reply.size())
        fuzz::Fail("ReadQuoted gave more text than it read");
    return 0;
}
