#include "dialogs/transfer.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

// The caption column fits its longest caption; the value column fits the
// longest status line of a multi-gigabyte file. Paths are elided in the
// middle so both the folder and the file name stay readable.
int CaptionWidth(const QFontMetrics& metrics)
{
    int width = 0;
    for (const char* caption : {"Remote:", "Local:", "Status:", "Transfer:", "Remaining:"})
        width = std::max(width, metrics.horizontalAdvance(QString::fromLatin1(caption)));
    return width + 2;
}

int ValueWidth(const QFontMetrics& metrics)
{
    return std::max(226, metrics.horizontalAdvance(QStringLiteral("99999999999 bytes of 99999999999 transferred")) + 4);
}

QLabel* AddRow(QGridLayout* grid, int row, const QString& caption, const char* valueName)
{
    auto* captionLabel = new QLabel(caption);
    grid->addWidget(captionLabel, row, 0);
    auto* value = new QLabel;
    value->setObjectName(QString::fromLatin1(valueName));
    value->setFixedWidth(ValueWidth(value->fontMetrics()));
    value->setTextFormat(Qt::PlainText);
    grid->addWidget(value, row, 1);
    return value;
}

// Rates are shown with the user's separators; the bare C locale has no
// thousands separator, so it falls back to English digits grouping.
QLocale RateLocale()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale;
}

QString TwoDigits(qint64 value) { return value <= 9 ? QStringLiteral("0%1").arg(value) : QString::number(value); }

} // namespace

TSendForm::TSendForm(bool& cancelTransfer, QWidget* parent, TRefreshThrottle::TClock clock)
    : QDialog(parent), cancelTransfer_(cancelTransfer), throttle_(RefreshIntervalMs, std::move(clock))
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setModal(false);
    setCursor(Qt::WaitCursor);
    BuildControls();

    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &TSendForm::Timer1Timer);
    Timer1.start();

    pendingRedraw_.setSingleShot(true);
    connect(&pendingRedraw_, &QTimer::timeout, this, [this] {
        throttle_.Refreshed();
        Redraw();
    });
}

TSendForm::~TSendForm() = default;

void TSendForm::BuildControls()
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    RemLabel = AddRow(grid, 0, QStringLiteral("Remote:"), "RemLabel");
    LocLabel = AddRow(grid, 1, QStringLiteral("Local:"), "LocLabel");
    ProgLb = AddRow(grid, 2, QStringLiteral("Status:"), "ProgLb");
    TranLabel = AddRow(grid, 3, QStringLiteral("Transfer:"), "TranLabel");

    // Row 5: the time left on the left, the percentage on the right.
    grid->addWidget(new QLabel(QStringLiteral("Remaining:")), 4, 0);
    grid->setColumnMinimumWidth(0, CaptionWidth(fontMetrics()));
    auto* row5 = new QHBoxLayout;
    row5->setSpacing(6);
    TimeLabel = new QLabel;
    TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
    row5->addWidget(TimeLabel, 1);
    auto* complete = new QLabel(QStringLiteral("Complete:"));
    complete->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row5->addWidget(complete);
    Label1 = new QLabel;
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1->setMinimumWidth(QFontMetrics(Label1->font()).horizontalAdvance(QStringLiteral("100%")) + 4);
    row5->addWidget(Label1);
    auto* row5Widget = new QWidget;
    row5->setContentsMargins(0, 0, 0, 0);
    row5Widget->setLayout(row5);
    row5Widget->setFixedWidth(ValueWidth(fontMetrics()));
    grid->addWidget(row5Widget, 4, 1);

    ProgBar1 = new QProgressBar;
    ProgBar1->setObjectName(QStringLiteral("ProgBar1"));
    ProgBar1->setRange(0, 100);
    ProgBar1->setValue(0);
    ProgBar1->setTextVisible(false);
    ProgBar1->setFixedHeight(16);

    Button1 = new QPushButton(QStringLiteral("&Cancel"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setCursor(Qt::ArrowCursor);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TSendForm::Button1Click);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addStretch(1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(8);
    column->addLayout(grid);
    column->addWidget(ProgBar1);
    column->addLayout(buttons);

    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), 321), std::max(hint.height(), 156));
}

void TSendForm::SetPathLabel(QLabel* label, const QString& path)
{
    label->setToolTip(path);
    label->setText(label->fontMetrics().elidedText(path, Qt::ElideMiddle, label->width()));
}

void TSendForm::Prepare(TProgressDirection direction, const QString& name, const QString& remotePath,
                        const QString& localPath, qint64 total, qint64 start)
{
    setWindowTitle((direction == TProgressDirection::Sending ? QStringLiteral("Sending File: ")
                                                             : QStringLiteral("Receiving File: ")) +
                   name);
    SetPathLabel(RemLabel, remotePath);
    SetPathLabel(LocLabel, localPath);
    SetTotal(total, start);
}

void TSendForm::SetTotal(qint64 total, qint64 start)
{
    bytesTotal_ = std::max<qint64>(total, 0);
    start_ = std::max<qint64>(start, 0);
    bytesDone_ = start_;
    // A progress bar counts in int; files past 2 GiB are drawn at a
    // coarser grain instead of overflowing.
    barShift_ = 0;
    while ((bytesTotal_ >> barShift_) > INT_MAX)
        ++barShift_;
    // An unknown size gives an empty bar rather than Qt's busy animation,
    // which would repaint on its own all through the transfer.
    ProgBar1->setRange(0, bytesTotal_ > 0 ? int(bytesTotal_ >> barShift_) : 1);
    MoveBar();
}

void TSendForm::MoveBar()
{
    if (bytesTotal_ <= 0) {
        ProgBar1->setValue(0);
        return;
    }
    const qint64 position = std::clamp<qint64>(bytesDone_, 0, bytesTotal_);
    ProgBar1->setValue(int(position >> barShift_));
}

void TSendForm::SetProgress(qint64 byteCount)
{
    bytesDone_ = byteCount;
    if (cancelPressed_)
        return;
    const bool finished = bytesTotal_ > 0 && bytesDone_ >= bytesTotal_;
    if (finished) {
        throttle_.Refreshed();
        Redraw();
        return;
    }
    if (throttle_.TryRefresh()) {
        Redraw();
        return;
    }
    // Too soon to draw: make sure this count is drawn once the interval is
    // over, even if no further progress comes (a stalled transfer).
    if (!pendingRedraw_.isActive())
        pendingRedraw_.start(int(std::max<qint64>(throttle_.Wait(), 1)));
}

void TSendForm::Redraw()
{
    pendingRedraw_.stop();
    if (cancelPressed_)
        return;
    MoveBar();
    SetLabels();
}

void TSendForm::SetLabels()
{
    if (cancelPressed_)
        return;
    // The rate counts only what moved since the dialog opened: the part of a
    // resumed download that was already on disk took no time now.
    const qint64 moved = std::max<qint64>(bytesDone_ - start_, 0);
    bytesPerSecond_ = moved / std::max(seconds_, 1);
    ProgLb->setText(StatusText(bytesDone_, bytesTotal_));
    TranLabel->setText(RateText(bytesPerSecond_));
    Label1->setText(PercentText(bytesDone_, bytesTotal_));
    if (bytesTotal_ <= 0)
        TimeLabel->clear();
    else if (bytesPerSecond_ > 0)
        TimeLabel->setText(TimeText(std::max<qint64>(bytesTotal_ - bytesDone_, 0) / bytesPerSecond_));
    ++labelRefreshes_;
}

void TSendForm::Timer1Timer() { ++seconds_; }

void TSendForm::Button1Click()
{
    cancelTransfer_ = true;
    cancelPressed_ = true;
    pendingRedraw_.stop();
    ProgLb->setText(AbortingText());
    TranLabel->clear();
    TimeLabel->clear();
    Label1->clear();
}

void TSendForm::reject() { Button1Click(); }

void TSendForm::closeEvent(QCloseEvent* event)
{
    // Only the owner ends the dialog (by destroying it, when its transfer
    // call returns); a request to close it, from the desktop or from code,
    // means "stop this transfer".
    event->ignore();
    Button1Click();
}

void TSendForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString TSendForm::StatusText(qint64 bytesDone, qint64 bytesTotal)
{
    if (bytesTotal <= 0)
        return QStringLiteral("%1 bytes transferred").arg(bytesDone);
    return QStringLiteral("%1 bytes of %2 transferred").arg(bytesDone).arg(bytesTotal);
}

QString TSendForm::RateText(qint64 bytesPerSecond)
{
    // Single precision is enough for the two decimals the rate shows.
    const float kilobytes = float(bytesPerSecond) * (1.0f / 1024.0f);
    return RateLocale().toString(double(kilobytes), 'f', 2) + QStringLiteral(" KB per second");
}

QString TSendForm::PercentText(qint64 bytesDone, qint64 bytesTotal)
{
    if (bytesTotal <= 0)
        return {};
    return QStringLiteral("%1%").arg(bytesDone * 100 / bytesTotal);
}

QString TSendForm::TimeText(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds / 60) % 60;
    return TwoDigits(hours) + QLatin1Char(':') + TwoDigits(minutes) + QLatin1Char(':') + TwoDigits(seconds % 60);
}

QString TSendForm::AbortingText() { return QStringLiteral("Aborting transfer....please wait"); }
