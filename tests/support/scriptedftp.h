#pragma once

// A small FTP command interpreter played on a FakeSession: it logs in any
// user, serves one remote file for RETR, keeps what STOR sends, and breaks
// the first RETR or STOR in the way the test asks for.

#include "ftpfakeserver.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace ftptest {

enum class Cut {
    None,
    ResetThen426,  // data connection reset, then "426"
    CloseThen426,  // data connection closed in order, then "426"
    CloseThenDrop, // data connection closed, control connection dropped
    Stall,         // stops sending and never answers; both stay open
    ResetControl,  // control connection reset, data connection left open
};

class ScriptedFtp {
public:
    ScriptedFtp(std::string remote, Cut retrCut, Cut storCut = Cut::None, std::size_t cutAfter = 100 * 1024);

    // Plays one session until QUIT or until the client goes away.
    void Serve(FakeSession& s, FakeFtpServer& server);

    std::vector<std::string> Commands() const;
    std::string Stored() const;
    int StoresCompleted() const;
    // After a stall (or a reset of the control connection): whether the
    // client closed the control and the data connection.
    bool ControlClosedAfterStall() const;
    bool DataClosedAfterStall() const;

private:
    bool OpenData(FakeSession& s, bool passive, int activePort);
    void Retrieve(FakeSession& s, FakeFtpServer& server, bool passive, int activePort, std::size_t rest);
    void Store(FakeSession& s, FakeFtpServer& server, bool passive, int activePort);
    bool StallUntilClientLeaves(FakeSession& s);
    // Breaks the transfer under way as `cut` says; after a reset of the
    // control connection in a download, records whether the client closed
    // the data connection.
    void BreakTransfer(FakeSession& s, Cut cut, bool download);

    const std::string remote_;
    Cut retrCut_;
    Cut storCut_;
    const std::size_t cutAfter_;
    bool dropped_ = false;
    mutable std::mutex lock_;
    std::vector<std::string> commands_;
    std::string stored_;
    int storesCompleted_ = 0;
    bool controlClosedAfterStall_ = false;
    bool dataClosedAfterStall_ = false;
};

} // namespace ftptest
