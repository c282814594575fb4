#pragma once

// The real servers shared by the tests of one test program: started on first
// use, stopped when the program's tests are over.

#include "support/ftpserver.h"

#include <string>

namespace ftptest {

using Kind = testsupport::FtpTestServer::Kind;

// Null (with the reason in whyNot) when this kind cannot run here.
testsupport::FtpTestServer* SharedServer(Kind kind, std::string* whyNot);

std::string KindName(Kind kind);

// A folder of the running test's own on `server`: `prefix` and the test's
// name, made anew (empty) and shared with the server's user.
struct TestFolder {
    std::string name;
    std::string path;
};
TestFolder MakeTestFolder(testsupport::FtpTestServer& server, const std::string& prefix);

// Writes `bytes` as the file `name` in `folder` on the server.
void PutServerFile(testsupport::FtpTestServer& server, const TestFolder& folder, const std::string& name,
                   const std::string& bytes);

} // namespace ftptest
