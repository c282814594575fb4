#pragma once

// TFormHttp, the "URL Information" window: sends a HEAD ("Headers Only") or
// GET ("Full Document") request for the typed URL with its own THttpCli and
// shows the status, the response header lines and, for GET, the document.
//
// The main window creates it, shows it modally (exec) and destroys it. The
// request runs asynchronously: the window stays live, Cancel (or Escape)
// aborts it, and closing the window in any way aborts it too. The document
// body is written to a file in a private temporary folder, which is removed
// when the next request starts, when a request fails and with the window.

#include "http/httpprot.h"
#include "dialogs/url/validurldoc.h"

#include <QDialog>
#include <QStringList>

#include <cstdint>
#include <memory>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class TFormHttp : public QDialog {
    Q_OBJECT
public:
    // At most this much of a document is shown in the document area; the
    // rest stays in the file, which Save As copies whole.
    static constexpr std::int64_t DocumentDisplayLimit = 1024 * 1024;
    // Header lines shown at most (a server may send any number of them).
    static constexpr int HeaderDisplayLimit = 500;

    explicit TFormHttp(QWidget* parent = nullptr);
    ~TFormHttp() override;

    // ---- controls, top to bottom ----------------------------------------
    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo2 = nullptr; // "Headers:"
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr; // "Document:"
    QLabel* Label3 = nullptr;
    QLineEdit* EditUrl = nullptr;      // "URL:"
    QRadioButton* RadioHead = nullptr; // "Headers Only"
    QRadioButton* RadioGet = nullptr;  // "Full Document"
    QPushButton* ButVal = nullptr;     // "&Get Info"
    QPushButton* ButCan = nullptr;     // "&Cancel"
    QPushButton* ButSav = nullptr;     // "&Save As"
    QPushButton* Button3 = nullptr;    // "&Exit"
    QPushButton* Button1 = nullptr;    // "&Help"

    THttpCli& Http1() { return *http1_; }
    // True while a request runs (Cancel enabled, hourglass cursor).
    bool Requesting() const { return requesting_; }
    // The document of the last request: its file exists from the start of
    // the body until the next request, a failure or the window's end.
    const TUrlDocument& Document() const { return document_; }

    // ---- handlers ---------------------------------------------------------
    void ButValClick();
    void ButCanClick();
    void ButSavClick();
    void Button3Click();
    void Button1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void ConnectHttp();

    void Http1SessionConnected(THttpCli* Sender);
    void Http1DocBegin(THttpCli* Sender);
    void Http1DocEnd(THttpCli* Sender);
    void Http1RequestDone(THttpCli* Sender, THttpRequest RqType, std::uint16_t Error);
    TSslTrustAnswer Http1CertificateCheck(const TSslTrustQuestion& Question);

    void GetFinished(std::uint16_t Error);
    void HeadFinished(std::uint16_t Error);
    void ShowStatusAndHeaders();
    void LoadDocument();
    QString FailureReason(std::uint16_t Error) const;

    void SetRequesting(bool requesting);
    void AbortRunningRequest();

    std::unique_ptr<THttpCli> http1_;
    TUrlDocument document_;
    THttpRequest runningType_ = httpAbort;
    bool requesting_ = false;
    bool cursorShown_ = false;
    QString saveFolder_;
};
