#include "ftpservers.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace ftptest {

namespace {

struct Slot {
    std::unique_ptr<testsupport::FtpTestServer> server;
    std::string whyNot;
    bool tried = false;
};

std::map<Kind, Slot>& Slots()
{
    static std::map<Kind, Slot> slots;
    return slots;
}

// Stops the servers while the application object still exists.
class ServersEnvironment : public ::testing::Environment {
public:
    void TearDown() override { Slots().clear(); }
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(
    new ServersEnvironment);

} // namespace

testsupport::FtpTestServer* SharedServer(Kind kind, std::string* whyNot)
{
    Slot& slot = Slots()[kind];
    if (!slot.tried) {
        slot.tried = true;
        slot.server = testsupport::FtpTestServer::Start(kind, &slot.whyNot);
    }
    if (!slot.server && whyNot)
        *whyNot = slot.whyNot;
    return slot.server.get();
}

std::string KindName(Kind kind) { return testsupport::FtpTestServer::KindName(kind); }

} // namespace ftptest
