#pragma once

// The "Ping Utility" window: three ICMP echo requests to a host with the
// packet size, time-out and time to live typed by the user, a running report
// and, when all three came back, the average round-trip time.
//
// The echoes of a run go out one after another on a worker thread, so the
// window keeps painting and answering while a host takes its time (up to the
// typed time-out per echo). The engine's events are copied on that thread
// and reported on the GUI thread in the order they happened; the window
// touches Ping1 only while no run is going.

#include "tools/icmp.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QShowEvent;

class TFormPing : public QDialog {
    Q_OBJECT
public:
    // Raises TICMPException when the echo engine cannot start.
    explicit TFormPing(QWidget* parent = nullptr);
    ~TFormPing() override;

    // What the main window's Ping command does: create the window, show it
    // modally and free it. An engine that cannot start is reported to the
    // user in a notice instead.
    static void Execute(QWidget* parent);

    bool Running() const { return FWorker.joinable(); }

    QPlainTextEdit* Memo1 = nullptr;
    QLineEdit* EditAdd = nullptr;
    QLineEdit* EditSize = nullptr;
    QLineEdit* EditTime = nullptr;
    QLineEdit* EditTTL = nullptr;
    QPushButton* ButPing = nullptr;
    QPushButton* ButExit = nullptr;
    QPushButton* Button1 = nullptr;
    std::unique_ptr<TPing> Ping1;

protected:
    // What one echo reported, copied on the worker thread.
    struct TEchoResult {
        int Replies = 0;
        std::uint32_t DataSize = 0;
        std::uint32_t RoundTripTime = 0;
        std::string ErrorString;
    };

    // Sends echo `packet` (1 to 3) through Ping1. Runs on the worker thread;
    // Ping1's events report through the Report... calls below. A test double
    // may replace the echo and report results of its own.
    virtual void SendEcho(int packet);
    // Thread-safe: each hands one engine event to the GUI thread.
    void ReportRequest(std::int32_t size);
    void ReportReply(const TEchoResult& result);
    void ReportMessage(const std::string& msg);
    // Lets the echo in flight return and sends no more. A class that
    // replaces SendEcho calls it from its destructor, while its own
    // SendEcho still exists.
    void StopRun();

    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void ButPingClick();
    void ButExitClick();
    void Button1Click();
    void Ping1EchoRequest(std::int32_t size);
    void Ping1EchoReply(const TEchoResult& result);
    void Ping1Display(const QString& msg);
    void StartWorker();
    void EchoDone(int packet);
    void RunDone(bool completed);
    void SetRunning(bool running);
    void Add(const QString& text);

    int FPacket = 1;
    // Three round-trip times of up to 2^31 ms would overflow 32 bits.
    std::int64_t FSum = 0;
    bool FReturned[3] = {false, false, false};
    QString FTimeoutText; // the time-out as typed when the run started
    bool FCloseRequested = false;
    bool FCentred = false;
    std::atomic<bool> FStop{false};
    std::thread FWorker;
};
