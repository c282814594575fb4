#include "dialogs/tools/pingunit.h"

#include "ui/prompts.h"
#include "platform/application.h"
#include "platform/exception.h"
#include "ui/digitsonlyfilter.h"
#include "dialogs/tools/toolhelp.h"
#include "dialogs/tools/toolwidgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <exception>
#include <system_error>
#include <utility>

namespace {

const QString kStars = QString(59, QLatin1Char('*'));

// The framework's decimal conversion: the whole text must be one 32-bit
// number, or the conversion error names the text.
std::int32_t StrToInt(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || text.trimmed() != text)
        throw Exception("'" + text.toStdString() + "' is not a valid integer value");
    return std::int32_t(value);
}

QString Number(std::int64_t value) { return QString::number(value); }

} // namespace

TFormPing::TFormPing(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Ping1(std::make_unique<TPing>())
{
    setObjectName(QStringLiteral("FormPing"));
    setWindowTitle(QStringLiteral("Ping Utility"));
    BuildControls();

    // The engine's events arrive on the worker thread during a run: copy what
    // each one says there and let the GUI thread write it.
    Ping1->OnEchoRequest = [this](TPing*, TICMP* icmp) { ReportRequest(icmp->Size()); };
    Ping1->OnEchoReply = [this](TPing*, TICMP* icmp, int error) {
        TEchoResult result;
        result.Replies = error;
        result.DataSize = icmp->Reply().DataSize;
        result.RoundTripTime = icmp->Reply().RoundTripTime;
        result.ErrorString = icmp->GetErrorString();
        ReportReply(result);
    };
    Ping1->OnDisplay = [this](TPing*, TICMP*, const std::string& msg) { ReportMessage(msg); };
}

TFormPing::~TFormPing()
{
    StopRun();
    Ping1.reset();
}

void TFormPing::Execute(QWidget* parent)
{
    std::unique_ptr<TFormPing> form;
    try {
        form = std::make_unique<TFormPing>(parent);
    } catch (const std::exception& e) {
        Prompts().Notice(QStringLiteral("Ping Utility"), QString::fromStdString(e.what()), 4);
        return;
    }
    form->exec();
}

void TFormPing::BuildControls()
{
    Memo1 = toolwidgets::MakeReport(this, "Memo1");
    EditAdd = new QLineEdit(this);
    EditAdd->setObjectName(QStringLiteral("EditAdd"));
    EditSize = new QLineEdit(QStringLiteral("64"), this);
    EditSize->setObjectName(QStringLiteral("EditSize"));
    EditTime = new QLineEdit(QStringLiteral("5000"), this);
    EditTime->setObjectName(QStringLiteral("EditTime"));
    EditTTL = new QLineEdit(QStringLiteral("64"), this);
    EditTTL->setObjectName(QStringLiteral("EditTTL"));
    for (QLineEdit* number : {EditSize, EditTime, EditTTL}) {
        TDigitsOnlyFilter::Install(number);
        number->setMaximumWidth(number->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
    }
    ButPing = toolwidgets::MakeButton(this, "ButPing", QStringLiteral("&Ping"));
    ButPing->setDefault(true);
    ButExit = toolwidgets::MakeButton(this, "ButExit", QStringLiteral("&Exit"));
    Button1 = toolwidgets::MakeButton(this, "Button1", QStringLiteral("&Help"));

    // Wide enough for the report's lines of 59 asterisks.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    Memo1->setMinimumWidth(Memo1->fontMetrics().horizontalAdvance(kStars) + scrollBar + 24);
    Memo1->setMinimumHeight(Memo1->fontMetrics().lineSpacing() * 12);

    auto* fields = new QGridLayout;
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("Host Address:"), EditAdd), 0, 0);
    fields->addWidget(EditAdd, 0, 1, 1, 2);
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("Packet Size:"), EditSize), 1, 0);
    fields->addWidget(EditSize, 1, 1);
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("in bytes")), 1, 2);
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("Timeout:"), EditTime), 2, 0);
    fields->addWidget(EditTime, 2, 1);
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("in milliseconds")), 2, 2);
    fields->addWidget(toolwidgets::MakeLabel(this, QStringLiteral("Time To Live:"), EditTTL), 3, 0);
    fields->addWidget(EditTTL, 3, 1);
    fields->setColumnStretch(2, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButPing);
    buttons->addWidget(ButExit);
    buttons->addWidget(Button1);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1, 1);
    layout->addLayout(fields);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    // The report grows with the window.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setSizeGripEnabled(true);

    setTabOrder(EditAdd, EditSize);
    setTabOrder(EditSize, EditTime);
    setTabOrder(EditTime, EditTTL);
    setTabOrder(EditTTL, ButPing);
    setTabOrder(ButPing, ButExit);
    setTabOrder(ButExit, Button1);
    EditAdd->setFocus();

    connect(ButPing, &QPushButton::clicked, this, &TFormPing::ButPingClick);
    connect(ButExit, &QPushButton::clicked, this, &TFormPing::ButExitClick);
    connect(Button1, &QPushButton::clicked, this, &TFormPing::Button1Click);
}

void TFormPing::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        toolwidgets::CentreOnScreen(*this);
    }
}

void TFormPing::ButPingClick()
{
    if (Running() || EditAdd->text().isEmpty())
        return;

    // Converting first leaves the window as it was when a field is no number.
    std::int32_t size = 0;
    std::int32_t timeout = 0;
    std::int32_t ttl = 0;
    try {
        size = StrToInt(EditSize->text());
        timeout = StrToInt(EditTime->text());
        ttl = StrToInt(EditTTL->text());
    } catch (const Exception& e) {
        Application::HandleException(e);
        return;
    }

    SetRunning(true);
    // A packet counts as returned only once its reply arrives: a host that
    // was never reached has no average.
    FReturned[0] = FReturned[1] = FReturned[2] = false;
    FPacket = 1;
    FSum = 0;
    FTimeoutText = EditTime->text();
    Ping1->SetSize(size);
    Ping1->SetTimeout(timeout);
    Ping1->SetAddress(EditAdd->text().toStdString());
    Ping1->SetTTL(ttl);
    Add(QStringLiteral("Host: ") + EditAdd->text() + QStringLiteral(" \n") + kStars);

    FStop = false;
    try {
        StartWorker();
    } catch (const std::system_error& e) {
        SetRunning(false);
        Application::HandleException(e);
    }
}

void TFormPing::StartWorker()
{
    FWorker = std::thread([this] {
        bool completed = true;
        for (int packet = 1; packet <= 3; ++packet) {
            if (FStop) {
                completed = false;
                break;
            }
            try {
                SendEcho(packet);
            } catch (const std::exception& e) {
                const std::string message = e.what();
                QMetaObject::invokeMethod(
                    this, [message] { Application::HandleException(Exception(message)); }, Qt::QueuedConnection);
                completed = false;
                break;
            }
            QMetaObject::invokeMethod(
                this, [this, packet] { EchoDone(packet); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this, completed] { RunDone(completed); }, Qt::QueuedConnection);
    });
}

void TFormPing::SendEcho(int) { Ping1->Ping(); }

void TFormPing::ReportRequest(std::int32_t size)
{
    QMetaObject::invokeMethod(
        this, [this, size] { Ping1EchoRequest(size); }, Qt::QueuedConnection);
}

void TFormPing::ReportReply(const TEchoResult& result)
{
    QMetaObject::invokeMethod(
        this, [this, result] { Ping1EchoReply(result); }, Qt::QueuedConnection);
}

void TFormPing::ReportMessage(const std::string& msg)
{
    const QString text = QString::fromStdString(msg);
    QMetaObject::invokeMethod(
        this, [this, text] { Ping1Display(text); }, Qt::QueuedConnection);
}

void TFormPing::Ping1EchoRequest(std::int32_t size)
{
    Add(QStringLiteral("Sending packet ") + Number(FPacket) + QStringLiteral(" size: ") + Number(size) +
        QStringLiteral(" bytes"));
}

void TFormPing::Ping1EchoReply(const TEchoResult& result)
{
    if (result.Replies > 0) {
        Add(QStringLiteral("Returned Data: ") + Number(result.DataSize) + QStringLiteral(" bytes"));
        Add(QStringLiteral("Return Time: ") + Number(result.RoundTripTime) + QStringLiteral(" milliseconds\n") +
            kStars);
        FSum += result.RoundTripTime;
        FReturned[FPacket - 1] = true;
        return;
    }
    Add(QStringLiteral("Packet ") + Number(FPacket) + QLatin1Char(' ') + QString::fromStdString(result.ErrorString) +
        QStringLiteral(" in ") + FTimeoutText + QStringLiteral(" milliseconds\n") + kStars);
    FReturned[FPacket - 1] = false;
}

void TFormPing::Ping1Display(const QString& msg) { Add(QStringLiteral("Message: ") + msg); }

void TFormPing::EchoDone(int packet)
{
    if (packet < 3)
        FPacket = packet + 1;
}

void TFormPing::RunDone(bool completed)
{
    if (FWorker.joinable())
        FWorker.join();
    if (completed) {
        if (FReturned[0] && FReturned[1] && FReturned[2])
            Add(QStringLiteral("Average return time: ") + Number(FSum / 3) + QStringLiteral(" milliseconds\n"));
        else
            Add(QStringLiteral("One or more packets timed out, no average."));
    }
    SetRunning(false);
    if (FCloseRequested)
        reject();
}

void TFormPing::SetRunning(bool running)
{
    ButPing->setEnabled(!running);
    if (running)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void TFormPing::Add(const QString& text)
{
    Memo1->appendPlainText(text);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TFormPing::ButExitClick() { close(); }

void TFormPing::Button1Click() { ShowToolHelp(QStringLiteral("IDH_ping")); }

void TFormPing::reject()
{
    // An echo in flight cannot be called back: the window goes as soon as it
    // returns, and the packets not yet sent are dropped.
    if (Running()) {
        FCloseRequested = true;
        FStop = true;
        return;
    }
    FCloseRequested = false;
    QDialog::reject();
}

void TFormPing::StopRun()
{
    FStop = true;
    if (FWorker.joinable())
        FWorker.join();
}
