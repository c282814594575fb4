#include "dialogs/about.h"

#include "ui/prompts.h"
#include "dialogs/tarvikicon.h"
#include "platform/application.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& geometry, Qt::Alignment alignment)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Tarvik"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(288, 168);
    setMouseTracking(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(12, 10, 32, 32);
    Image1->setPixmap(TarvikPixmap(32));

    Label5 = MakeLabel(this, QStringLiteral("Veltrane - Software Tools for the Web"), QRect(52, 10, 230, 32),
                       Qt::AlignLeft);
    Label5->setWordWrap(true);

    Label1 = MakeLabel(this, QStringLiteral("Tarvik - FTP Client"), QRect(0, 48, 288, 22), Qt::AlignHCenter);
    QFont titleFont = Label1->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    Label1->setFont(titleFont);

    Label2 = MakeLabel(this, QStringLiteral("Version: "), QRect(4, 74, 120, 18), Qt::AlignRight);
    LabelV = MakeLabel(this, FormatFileVersion(FileVersionMS(), FileVersionLS()), QRect(126, 74, 158, 18),
                       Qt::AlignLeft);

    Label3 = MakeLabel(this, QStringLiteral("On the Web: "), QRect(4, 92, 120, 18), Qt::AlignRight);
    Label4 = MakeLabel(this, WebSite(), QRect(126, 92, 158, 18), Qt::AlignLeft);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->setMouseTracking(true);
    Label4->installEventFilter(this);
    SetLinkColour(Qt::blue);

    LabelC = MakeLabel(this, QStringLiteral("Tools for people who build the Web."), QRect(0, 110, 288, 18),
                       Qt::AlignHCenter);

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setGeometry(106, 134, 76, 26);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString TFormAbout::FormatFileVersion(quint32 mostSignificant, quint32 leastSignificant)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(mostSignificant >> 16)
        .arg(mostSignificant & 0xFFFFu)
        .arg(leastSignificant >> 16)
        .arg(leastSignificant & 0xFFFFu);
}

quint32 TFormAbout::FileVersionMS() { return (quint32(TARVIK_VERSION_MAJOR) << 16) | quint32(TARVIK_VERSION_MINOR); }

quint32 TFormAbout::FileVersionLS() { return (quint32(TARVIK_VERSION_RELEASE) << 16) | quint32(TARVIK_VERSION_BUILD); }

QString TFormAbout::WebSite() { return QStringLiteral("www.veltrane.com"); }

QUrl TFormAbout::WebSiteUrl() { return QUrl(QStringLiteral("https://www.veltrane.com/")); }

void TFormAbout::Label4Click()
{
    Shell().Open(WebSiteUrl());
    Application::ProcessMessages();
}

void TFormAbout::SetLinkColour(const QColor& colour)
{
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::WindowText, colour);
    Label4->setPalette(palette);
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label4) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
            SetLinkColour(Qt::red);
            break;
        case QEvent::Leave:
            SetLinkColour(Qt::blue);
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                Label4Click();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormAbout::mouseMoveEvent(QMouseEvent* event)
{
    SetLinkColour(Qt::blue);
    QDialog::mouseMoveEvent(event);
}
