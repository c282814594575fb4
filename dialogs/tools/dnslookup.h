#pragma once

// The "Domain Lookup" window: turns a host name into its address in the
// background (the IPv4 one when there is one) and lists its IPv6 addresses
// (AAAA records) below, or says "Host not found". A pending lookup can be
// cancelled. Only Ping1's lookup is used, never its echo requests.

#include "tools/icmp.h"

#include <QDialog>

#include <cstdint>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

class TFormDns : public QDialog {
    Q_OBJECT
public:
    // Raises TICMPException when Ping1's echo engine cannot start.
    explicit TFormDns(QWidget* parent = nullptr);
    ~TFormDns() override;

    // What the main window's Dns Lookup command does: create the window,
    // show it modally and free it; an engine that cannot start is reported
    // in a notice instead.
    static void Execute(QWidget* parent);

    bool LookingUp() const { return FLookingUp; }

    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr; // the IPv6 addresses, comma-separated
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    std::unique_ptr<TPing> Ping1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Ping1DnsLookupDone(std::uint16_t error);
    void SetLookingUp(bool lookingUp);

    bool FLookingUp = false;
    bool FCentred = false;
};
