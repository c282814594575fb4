#include "ftpservers.h"

#include "support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
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

TestFolder MakeTestFolder(testsupport::FtpTestServer& server, const std::string& prefix)
{
    // Parameterised tests are named "Case/N": the slash cannot be in a name.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (auto& c : name)
        if (c == '/')
            c = '_';
    TestFolder folder{prefix + name, server.Root() + "/" + prefix + name};
    std::filesystem::remove_all(folder.path);
    std::filesystem::create_directory(folder.path);
    server.Share(folder.path);
    return folder;
}

void PutServerFile(testsupport::FtpTestServer& server, const TestFolder& folder, const std::string& name,
                   const std::string& bytes)
{
    testsupport::WriteFile(folder.path + "/" + name, bytes);
    server.Share(folder.path + "/" + name);
}

} // namespace ftptest
