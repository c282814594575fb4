#pragma once

// Runs one command of tarvik-ftp on a TFtpClient through its blocking
// wrappers: log in, run the command, log out.

#include "cli/cliargs.h"
#include "ftp/ftpclient.h"

#include <memory>

class TProgressBar;

class TFtpCommandRunner {
public:
    explicit TFtpCommandRunner(const TCliArgs& args);
    ~TFtpCommandRunner();

    // The process exit status.
    int Run();

private:
    bool Login();
    void SetUpTls();
    bool LoginTls();
    bool RunCommand();
    bool MachineListing();
    // Several files in one get, put or rm (cli/ftpmultifile.cpp).
    bool SeveralFiles() const;
    int RunSeveral();
    bool Transfer(bool (TFtpClient::*wrapper)(), std::int64_t total, std::int64_t start);
    int Fail(const std::string& what);
    std::string FailureText() const;

    TCliArgs args_;
    TFtpClient ftp_;
    std::unique_ptr<TProgressBar> bar_;
    bool interactive_ = false;
    std::string quoteReply_;
};
