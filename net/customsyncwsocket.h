#pragma once

// Synchronous waiting on top of line mode: ReadLine blocks (in the event
// loop) until one line has arrived or the time-out expires.

#include "net/customlinewsocket.h"

#include <functional>

// Result of a wait that ran out of time or was cut short by termination.
constexpr int WSocketSyncTimeout = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    TCustomSyncWSocket() = default;
    ~TCustomSyncWSocket() override = default;

    // Timeout: 0 = 60 s, positive = seconds, negative = milliseconds.
    // Buffer receives the line with its terminator, or on time-out whatever
    // part of a line is held.
    void ReadLine(int Timeout, std::string& Buffer);

    virtual int Synchronize(const std::function<void()>& Proc, bool& Done);
    // 0 once Done became true; 12001 on time-out or termination.
    virtual int WaitUntilReady(bool& Done);

    std::int32_t SyncTimeout() const { return FSyncTimeout; }
    void SetSyncTimeout(std::int32_t Ms) { FSyncTimeout = Ms; }

protected:
    void LineCatcher(TCustomWSocket* Sender, std::uint16_t Error);

    std::int32_t FSyncTimeout = 0;
    std::string* FSyncTarget = nullptr;
    bool FSyncCaught = false;
};
