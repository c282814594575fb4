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

} // namespace ftptest
