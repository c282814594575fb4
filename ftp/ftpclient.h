#pragma once

// TFtpClient: the FTP component as the application uses it, with a blocking
// wrapper around every asynchronous request. A wrapper runs the event loop
// until the request is done, so the user interface and the component's own
// events stay live while it waits.

#include "ftp/customftpcli.h"

class TFtpClient : public TCustomFtpCli {
public:
    TFtpClient();
    ~TFtpClient() override = default;

    // Seconds a blocking wrapper waits; for a transfer, the longest silence
    // between two progress events. 0 or below waits without limit.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int v) { FTimeout = v; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool v) { FMultiThreaded = v; }

    bool Progress() override;

    using TAsyncRequest = void (TCustomFtpCli::*)();
    virtual bool Synchronize(TAsyncRequest proc);
    virtual bool WaitUntilReady();

    bool Open();
    bool User();
    bool Pass();
    bool Connect();
    bool Cwd();
    bool Pwd();
    bool CDup();
    bool TypeSet();
    bool TypeBinary();
    bool TypeAscii();
    bool Get();
    bool Put();
    bool RestPut();
    bool RestartPut();
    bool Append();
    bool Quit();
    bool Abort();
    bool Receive();
    bool Transmit();
    bool AppendFile();
    bool Dir();
    bool Directory();
    bool Ls();
    bool List();
    bool Mkd();
    bool Mkdir();
    bool Ren();
    bool Rename();
    bool Dele();
    bool Delete();
    bool Rmd();
    bool Rmdir();
    bool Syst();
    bool System();
    bool Size();
    bool FileSize();
    bool Quote();
    bool DoQuote();
    bool RestGet();
    bool RestartGet();
    bool Auth();
    bool Protect();
    bool Feat();
    bool Mlsd();

protected:
    int FTimeout = 15;
    bool FMultiThreaded = false;
    std::int64_t FDeadline = 0;
};
