#include "app/queuesettingsform.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

// The keys the queue has always been read from.
const QString kConnections = QStringLiteral("Settings/QueueConnections");
const QString kRetries = QStringLiteral("Settings/QueueRetries");

// A number out of range stays on show as typed (the plain spin box drops
// the key), so the form can say what the range is.
class TRangeBox : public QSpinBox {
public:
    QValidator::State validate(QString& text, int& pos) const override
    {
        const QValidator::State state = QSpinBox::validate(text, pos);
        if (state != QValidator::Invalid || text.size() > 4)
            return state;
        const bool digits = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); });
        return digits ? QValidator::Intermediate : QValidator::Invalid;
    }
};

QSpinBox* MakeBox(const char* name, int low, int high, int value)
{
    auto* box = new TRangeBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setValue(value);
    // Left with a value out of range, the box goes back to the last good one.
    box->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    return box;
}

} // namespace

TTransferSettings StoredQueueSettings()
{
    TTransferSettings settings;
    const QSettings store(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    bool ok = false;
    const int connections = store.value(kConnections, settings.Connections).toInt(&ok);
    if (ok)
        settings.Connections = connections;
    const int retries = store.value(kRetries, settings.MaxRetries).toInt(&ok);
    if (ok)
        settings.MaxRetries = retries;
    settings.Connections = settings.ClampedConnections();
    settings.MaxRetries = settings.ClampedRetries();
    return settings;
}

void StoreQueueSettings(const TTransferSettings& settings)
{
    QSettings store(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    store.setValue(kConnections, settings.ClampedConnections());
    store.setValue(kRetries, settings.ClampedRetries());
    store.sync();
}

TFormQueueSettings::TFormQueueSettings(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormQueueSettings"));
    setWindowTitle(QStringLiteral("Transfer Queue Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    const TTransferSettings current = StoredQueueSettings();
    Connections1 = MakeBox("Connections1", TTransferSettings::MinConnections, TTransferSettings::MaxConnections,
                           current.Connections);
    Connections1->setToolTip(QStringLiteral("Sessions the queue opens to the site at once, besides the browsing "
                                            "session"));
    Retries1 = MakeBox("Retries1", TTransferSettings::MinRetries, TTransferSettings::MostRetries, current.MaxRetries);
    Retries1->setToolTip(QStringLiteral("How often a transfer that broke off is tried again, resuming where it "
                                        "stopped; a refusal by the server is not retried"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Connections per site (%1-%2):")
                     .arg(TTransferSettings::MinConnections)
                     .arg(TTransferSettings::MaxConnections),
                 Connections1);
    form->addRow(QStringLiteral("&Retries of a failed transfer (%1-%2):")
                     .arg(TTransferSettings::MinRetries)
                     .arg(TTransferSettings::MostRetries),
                 Retries1);

    auto* note = new QLabel(QStringLiteral("A queue that runs now keeps its settings; the next start takes these."));
    note->setObjectName(QStringLiteral("Note1"));
    note->setWordWrap(true);

    Problem1 = new QLabel;
    Problem1->setObjectName(QStringLiteral("Problem1"));
    Problem1->setWordWrap(true);
    QPalette red = Problem1->palette();
    red.setColor(QPalette::WindowText, Qt::darkRed);
    Problem1->setPalette(red);
    // Room for the note from the start: the boxes keep their size when it
    // appears.
    Problem1->setMinimumHeight(2 * Problem1->fontMetrics().lineSpacing());
    // The spin box signals values only; its edit field tells of every key.
    for (QSpinBox* box : {Connections1, Retries1}) {
        if (auto* edit = box->findChild<QLineEdit*>())
            connect(edit, &QLineEdit::textChanged, this, &TFormQueueSettings::ShowProblem);
    }

    OKBtn = new QPushButton(QStringLiteral("&OK"));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"));
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &TFormQueueSettings::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &TFormQueueSettings::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(Problem1);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

QSpinBox* TFormQueueSettings::ShowProblem()
{
    const std::pair<QSpinBox*, QString> boxes[] = {{Connections1, QStringLiteral("connections per site")},
                                                   {Retries1, QStringLiteral("retries of a failed transfer")}};
    for (const auto& [box, what] : boxes) {
        if (box->hasAcceptableInput())
            continue;
        Problem1->setText(QStringLiteral("Enter a number from %1 to %2 for the %3.")
                              .arg(box->minimum())
                              .arg(box->maximum())
                              .arg(what));
        OKBtn->setEnabled(false);
        return box;
    }
    Problem1->clear();
    OKBtn->setEnabled(true);
    return nullptr;
}

void TFormQueueSettings::accept()
{
    // Return in a box may come before the box was checked.
    if (QSpinBox* const wrong = ShowProblem()) {
        wrong->setFocus();
        wrong->selectAll();
        return;
    }
    TTransferSettings settings = StoredQueueSettings();
    settings.Connections = Connections1->value();
    settings.MaxRetries = Retries1->value();
    StoreQueueSettings(settings);
    QDialog::accept();
}
