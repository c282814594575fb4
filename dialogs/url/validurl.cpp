#include "dialogs/url/validurl.h"

#include "ui/helpfile.h"
#include "ui/certificatetrust.h"
#include "ui/prompts.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <exception>

namespace {

const QString Caption = QStringLiteral("URL Information");
const QString Asterisks = QString(60, QLatin1Char('*'));

// Drops a multi-byte UTF-8 sequence cut short at the end of `bytes`.
void DropCutSequence(QByteArray& bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back
        if (byte >= 0xC0) {
            const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            if (back < needed)
                bytes.truncate(size - back);
        }
        return;
    }
}

// Text for the read-only areas: UTF-8 when the bytes are UTF-8, Latin-1
// otherwise (every byte shows as something), line ends made uniform, and no
// NUL that would cut the text short.
QString DisplayText(QByteArray bytes, bool cut)
{
    if (cut)
        DropCutSequence(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return text;
}

QString DisplayText(const std::string& bytes) { return DisplayText(QByteArray::fromStdString(bytes), false); }

// Text layout of a single line grows much faster than its length: a
// megabyte without a line break would freeze the window for minutes. Lines
// of the shown text are broken after this many characters (the document
// itself is untouched).
constexpr qsizetype DisplayLineLimit = 2000;

QString BreakLongLines(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / DisplayLineLimit + 1);
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            run = 0;
        } else if (run == DisplayLineLimit) {
            out += QLatin1Char('\n');
            run = 1;
        } else {
            ++run;
        }
        out += c;
    }
    return out;
}

// A URL carrying line breaks would smuggle extra lines into the request.
bool HasControlCharacters(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name)
{
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(QString::fromLatin1(name));
    memo->setReadOnly(true);
    // Not a tab stop, but a click lets the user select and copy.
    memo->setFocusPolicy(Qt::ClickFocus);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    palette.setColor(QPalette::Text, Qt::black);
    memo->setPalette(palette);
    return memo;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void AppendLines(QPlainTextEdit* memo, const QStringList& lines)
{
    if (!lines.isEmpty())
        memo->appendPlainText(lines.join(QLatin1Char('\n')));
}

} // namespace

TFormHttp::TFormHttp(QWidget* parent) : QDialog(parent), http1_(std::make_unique<THttpCli>())
{
    setObjectName(QStringLiteral("FormHttp"));
    setWindowTitle(Caption);
    CreateControls();
    ConnectHttp();
    SetRequesting(false);
}

TFormHttp::~TFormHttp()
{
    // Nothing of the client may reach this window while it is taken apart.
    http1_->OnSessionConnected = nullptr;
    http1_->OnDocBegin = nullptr;
    http1_->OnDocEnd = nullptr;
    http1_->OnRequestDone = nullptr;
    try {
        if (http1_->State() != httpReady)
            http1_->Abort();
    } catch (const std::exception&) {
        // The connection goes with the client either way.
    }
    http1_->RcvdStream = nullptr;
    http1_.reset();
    document_.Discard();
    if (cursorShown_)
        QGuiApplication::restoreOverrideCursor();
}

void TFormHttp::CreateControls()
{
    Label2 = new QLabel(QStringLiteral("Headers:"), this);
    Memo2 = MakeMemo(this, "Memo2");
    // Five lines high. The view's line boxes are a little shorter than the
    // font's spacing, so without the last few pixels the top of a sixth
    // line would peek out below.
    const QFontMetrics metrics(Memo2->font());
    const int margin = static_cast<int>(Memo2->document()->documentMargin());
    Memo2->setFixedHeight(metrics.lineSpacing() * 5 + margin + 2 * Memo2->frameWidth() - 3);
    Label1 = new QLabel(QStringLiteral("Document:"), this);
    Memo1 = MakeMemo(this, "Memo1");

    Label3 = new QLabel(QStringLiteral("URL:"), this);
    EditUrl = new QLineEdit(this);
    EditUrl->setObjectName(QStringLiteral("EditUrl"));
    Label3->setBuddy(EditUrl);

    RadioHead = new QRadioButton(QStringLiteral("Headers Only"), this);
    RadioHead->setObjectName(QStringLiteral("RadioHead"));
    RadioHead->setChecked(true);
    RadioGet = new QRadioButton(QStringLiteral("Full Document"), this);
    RadioGet->setObjectName(QStringLiteral("RadioGet"));

    ButVal = MakeButton(this, "ButVal", QStringLiteral("&Get Info"));
    // Enter in the URL box asks for the information.
    ButVal->setDefault(true);
    ButCan = MakeButton(this, "ButCan", QStringLiteral("&Cancel"));
    ButSav = MakeButton(this, "ButSav", QStringLiteral("&Save As"));
    Button3 = MakeButton(this, "Button3", QStringLiteral("&Exit"));
    Button1 = MakeButton(this, "Button1", QStringLiteral("&Help"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(4);
    layout->addWidget(Label2);
    layout->addWidget(Memo2);
    layout->addSpacing(4);
    layout->addWidget(Label1);
    layout->addWidget(Memo1, 1);
    layout->addSpacing(6);

    auto* urlRow = new QHBoxLayout;
    urlRow->setSpacing(8);
    urlRow->addWidget(Label3);
    urlRow->addWidget(EditUrl, 1);
    layout->addLayout(urlRow);

    auto* kindRow = new QHBoxLayout;
    kindRow->setSpacing(16);
    kindRow->addWidget(RadioHead);
    kindRow->addWidget(RadioGet);
    kindRow->addStretch(1);
    layout->addLayout(kindRow);
    layout->addSpacing(6);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    buttonRow->addStretch(1);
    for (QPushButton* button : {ButVal, ButCan, ButSav, Button3, Button1})
        buttonRow->addWidget(button);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);

    // The tab order starts at the URL; the text areas take no focus.
    setTabOrder(EditUrl, RadioHead);
    setTabOrder(RadioHead, RadioGet);
    setTabOrder(RadioGet, ButVal);
    setTabOrder(ButVal, ButCan);
    setTabOrder(ButCan, ButSav);
    setTabOrder(ButSav, Button3);
    setTabOrder(Button3, Button1);
    EditUrl->setFocus();

    connect(ButVal, &QPushButton::clicked, this, [this] { ButValClick(); });
    connect(ButCan, &QPushButton::clicked, this, [this] { ButCanClick(); });
    connect(ButSav, &QPushButton::clicked, this, [this] { ButSavClick(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    setSizeGripEnabled(true);
    resize(640, 520);
}

void TFormHttp::ConnectHttp()
{
    // The component's defaults are this window's settings already (agent,
    // accept list, proxy port 80 without a proxy, no "no-cache", form posts).
    http1_->OnSessionConnected = [this](THttpCli* sender) { Http1SessionConnected(sender); };
    http1_->OnDocBegin = [this](THttpCli* sender) { Http1DocBegin(sender); };
    http1_->OnDocEnd = [this](THttpCli* sender) { Http1DocEnd(sender); };
    http1_->OnRequestDone = [this](THttpCli* sender, THttpRequest rqType, std::uint16_t error) {
        Http1RequestDone(sender, rqType, error);
    };
    http1_->OnCertificateCheck = [this](THttpCli*, const TSslTrustQuestion& question) {
        return Http1CertificateCheck(question);
    };
}

TSslTrustAnswer TFormHttp::Http1CertificateCheck(const TSslTrustQuestion& Question)
{
    TCertificatePrompt prompt;
    prompt.Host = QString::fromStdString(Question.Host + ":" + Question.Port);
    prompt.Reason = DisplayText(Question.Cert.VerifyReason);
    prompt.Subject = DisplayText(Question.Cert.Subject);
    prompt.Issuer = DisplayText(Question.Cert.Issuer);
    prompt.ValidFrom = QString::fromStdString(Question.Cert.ValidFrom);
    prompt.ValidTo = QString::fromStdString(Question.Cert.ValidTo);
    prompt.Fingerprint = QString::fromStdString(Question.Cert.Fingerprint);
    prompt.StoredFingerprint = QString::fromStdString(Question.StoredFingerprint);
    // The hourglass would sit over the dialog while the user reads it.
    if (cursorShown_)
        QGuiApplication::restoreOverrideCursor();
    const TSslTrustAnswer answer = AskCertificateTrust(this, prompt);
    if (cursorShown_)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    return answer;
}

// --- Buttons --------------------------------------------------------------------

void TFormHttp::ButValClick()
{
    if (requesting_)
        return;
    const QString url = EditUrl->text().trimmed();
    if (HasControlCharacters(url)) {
        Prompts().Notice(Caption, QStringLiteral("The URL must not contain line breaks or other control characters."),
                         1);
        return;
    }
    SetRequesting(true);
    Memo1->clear();
    Memo2->clear();
    // The previous document goes now: only the last request's is kept.
    document_.Discard();
    http1_->RcvdStream = nullptr;
    http1_->URL = url.toStdString();
    runningType_ = RadioGet->isChecked() ? httpGET : httpHEAD;
    try {
        if (runningType_ == httpGET)
            http1_->GetASync();
        else
            http1_->HeadASync();
    } catch (const std::exception& e) {
        SetRequesting(false);
        Prompts().Notice(Caption, QString::fromStdString(e.what()), 4);
    }
}

void TFormHttp::ButCanClick() { http1_->Abort(); }

void TFormHttp::ButSavClick()
{
    QString name = QString::fromStdString(http1_->DocName());
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("document.htm");
    const QDir folder(saveFolder_.isEmpty() ? QDir::homePath() : saveFolder_);
    const QString start = name.isEmpty() ? folder.path() : folder.filePath(name);
    const QString target = Prompts().SaveFileName(
        this, QStringLiteral("Save Document As"), start,
        QStringLiteral("Html Files (*.html);;Text Files (*.txt);;All Files (*)"), QStringLiteral("html"));
    if (target.isEmpty())
        return;
    saveFolder_ = QFileInfo(target).absolutePath();

    QString error;
    bool saved = false;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (document_.Complete()) {
        // The received bytes as they came, whatever part of them is shown.
        saved = document_.SaveTo(target, error);
    } else {
        // No document (HEAD, a failure): what the document area says.
        QSaveFile out(target);
        QString text = Memo1->toPlainText();
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        const QByteArray bytes = text.toUtf8();
        saved = out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
        if (!saved)
            error = out.errorString();
    }
    QGuiApplication::restoreOverrideCursor();
    if (!saved)
        Prompts().Notice(
            QStringLiteral("Save Document As"),
            QStringLiteral("The document could not be saved to %1:\n%2").arg(QDir::toNativeSeparators(target), error),
            4);
}

void TFormHttp::Button3Click() { close(); }

void TFormHttp::Button1Click() { THelpFile::ShowTopic(QStringLiteral("IDH_urlinfo")); }

// --- Closing ----------------------------------------------------------------------

void TFormHttp::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Cancel answers Escape first; with nothing to cancel, Exit does.
        if (ButCan->isEnabled())
            ButCanClick();
        else
            Button3Click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormHttp::closeEvent(QCloseEvent* event)
{
    AbortRunningRequest();
    QDialog::closeEvent(event);
}

void TFormHttp::reject()
{
    // However the window is closed, a running request does not outlive it.
    AbortRunningRequest();
    QDialog::reject();
}

void TFormHttp::AbortRunningRequest()
{
    if (http1_->State() != httpReady)
        http1_->Abort();
}

void TFormHttp::SetRequesting(bool requesting)
{
    requesting_ = requesting;
    ButVal->setEnabled(!requesting);
    ButSav->setEnabled(!requesting);
    ButCan->setEnabled(requesting);
    if (requesting && !cursorShown_) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        cursorShown_ = true;
    } else if (!requesting && cursorShown_) {
        QGuiApplication::restoreOverrideCursor();
        cursorShown_ = false;
    }
}

// --- Client events --------------------------------------------------------------

void TFormHttp::Http1SessionConnected(THttpCli*)
{
    AppendLines(Memo2, {QStringLiteral("Attempting to retrieve information for:"), EditUrl->text(), Asterisks});
    if (!http1_->SslVersion().empty())
        AppendLines(Memo2, {QStringLiteral("Secure connection: %1, %2")
                                .arg(QString::fromStdString(http1_->SslVersion()),
                                     QString::fromStdString(http1_->SslCipher()))});
}

void TFormHttp::Http1DocBegin(THttpCli*)
{
    // A full disk or a missing temporary folder must not end the request
    // here: the body is then dropped and the failure shown at the end.
    http1_->RcvdStream = document_.Begin();
}

void TFormHttp::Http1DocEnd(THttpCli*)
{
    if (http1_->RcvdStream == nullptr)
        return;
    document_.End();
    http1_->RcvdStream = nullptr;
}

void TFormHttp::Http1RequestDone(THttpCli*, THttpRequest RqType, std::uint16_t Error)
{
    if (!requesting_)
        return;
    if (RqType == httpGET)
        GetFinished(Error);
    else
        HeadFinished(Error);
    if (Error != 0)
        Memo1->appendPlainText(QStringLiteral("Error: ") + QString::number(Error));
    SetRequesting(false);
}

QString TFormHttp::FailureReason(std::uint16_t Error) const
{
    // These two end a request whose status line (if any) looked fine; the
    // server's reason would read as a success.
    if (Error == httperrDocumentIncomplete)
        return QStringLiteral("Connection closed before the end of the document");
    if (Error == httperrNoResponse)
        return QStringLiteral("Connection closed without a response");
    return DisplayText(http1_->ReasonPhrase());
}

void TFormHttp::GetFinished(std::uint16_t Error)
{
    const bool failed = Error != 0 || http1_->StatusCode() >= 400;
    if (failed) {
        AppendLines(Memo1, {QStringLiteral("Retrieval of document failed!"),
                            QStringLiteral("Status: ") + QString::number(http1_->StatusCode()),
                            QStringLiteral("Reason: ") + FailureReason(Error)});
        Http1DocEnd(nullptr);
        document_.Discard();
        return;
    }
    ShowStatusAndHeaders();
    Http1DocEnd(nullptr);
    if (!document_.Error().isEmpty()) {
        AppendLines(Memo1, {QStringLiteral("Retrieval of document failed!"), document_.Error()});
        document_.Discard();
        return;
    }
    LoadDocument();
}

void TFormHttp::HeadFinished(std::uint16_t Error)
{
    const bool failed = Error != 0 || http1_->StatusCode() >= 400;
    if (failed) {
        AppendLines(Memo2, {QStringLiteral("Status: ") + QString::number(http1_->StatusCode()),
                            QStringLiteral("Reason: ") + FailureReason(Error), Asterisks});
        return;
    }
    ShowStatusAndHeaders();
}

void TFormHttp::ShowStatusAndHeaders()
{
    QStringList lines{QStringLiteral("Status: ") + QString::number(http1_->StatusCode())};
    const std::vector<std::string>& header = http1_->RcvdHeader();
    const std::size_t shown = std::min<std::size_t>(header.size(), HeaderDisplayLimit);
    for (std::size_t i = 0; i < shown; ++i)
        lines << DisplayText(header[i]);
    if (shown < header.size())
        lines << QStringLiteral("[%1 more header lines are not shown]").arg(header.size() - shown);
    const int statusBlock = Memo2->document()->isEmpty() ? 0 : Memo2->blockCount();
    AppendLines(Memo2, {BreakLongLines(lines.join(QLatin1Char('\n')))});
    // The small area shows the status line first, the header below it.
    Memo2->moveCursor(QTextCursor::End);
    Memo2->ensureCursorVisible();
    Memo2->setTextCursor(QTextCursor(Memo2->document()->findBlockByNumber(statusBlock)));
    Memo2->ensureCursorVisible();
}

void TFormHttp::LoadDocument()
{
    // No body at all (an empty document): nothing to show, nothing kept.
    if (document_.FilePath().isEmpty())
        return;
    std::int64_t total = 0;
    const QByteArray head = document_.ReadHead(DocumentDisplayLimit, total);
    const bool cut = total > head.size();
    QString text = BreakLongLines(DisplayText(head, cut));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    Memo1->setPlainText(text);
    if (cut)
        Memo1->appendPlainText(
            QStringLiteral("\n[Only the first %1 bytes of %2 are shown here; Save As saves the whole document.]")
                .arg(head.size())
                .arg(total));
    Memo1->moveCursor(QTextCursor::Start);
}
