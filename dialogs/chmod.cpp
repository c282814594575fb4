#include "dialogs/chmod.h"

#include "ui/helpfile.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int Weights[3] = {4, 2, 1};

} // namespace

TFormMod::TFormMod(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("File Permissions"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    BuildControls();
    ShowMode();
}

QGroupBox* TFormMod::MakeGroup(const QString& caption, int first)
{
    static const char* const captions[3] = {"Readable", "Writable", "Executable"};
    auto* group = new QGroupBox(caption);
    group->setObjectName(QStringLiteral("GroupBox%1").arg(first / 3 + 1));
    auto* column = new QVBoxLayout(group);
    column->setSpacing(2);
    column->setContentsMargins(10, 6, 10, 8);
    for (int i = 0; i < 3; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(captions[i]));
        box->setObjectName(QStringLiteral("CheckBox%1").arg(first + i + 1));
        connect(box, &QCheckBox::toggled, this, &TFormMod::ShowMode);
        column->addWidget(box);
        boxes_[std::size_t(first) + std::size_t(i)] = box;
    }
    return group;
}

void TFormMod::BuildControls()
{
    Label1 = new QLabel(QStringLiteral("Choose the permissions you would like to set and click OK. "
                                       "These commands are usually only available on UNIX servers."));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);

    auto* groups = new QHBoxLayout;
    groups->setSpacing(8);
    groups->addWidget(MakeGroup(QStringLiteral("Owner Permissions"), 0));
    groups->addWidget(MakeGroup(QStringLiteral("Group Permissions"), 3));
    groups->addWidget(MakeGroup(QStringLiteral("Other Permissions"), 6));

    QFont bold = font();
    bold.setBold(true);
    Label2 = new QLabel(QStringLiteral("CHMOD:"));
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(bold);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label3 = new QLabel;
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(bold);
    Label3->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(QStringLiteral("7777")));

    Button1 = new QPushButton(QStringLiteral("&OK"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Cancel"));
    Button2->setObjectName(QStringLiteral("Button2"));
    ButHelp = new QPushButton(QStringLiteral("&Help"));
    ButHelp->setObjectName(QStringLiteral("ButHelp"));
    ButHelp->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TFormMod::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormMod::Button2Click);
    connect(ButHelp, &QPushButton::clicked, this, &TFormMod::ButHelpClick);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(6);
    bottom->addWidget(Label2);
    bottom->addWidget(Label3);
    bottom->addStretch(1);
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    bottom->addWidget(ButHelp);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(10);
    column->addWidget(Label1);
    column->addLayout(groups);
    column->addLayout(bottom);

    // Owner read and write, group and other read: 644.
    for (int index : {0, 1, 3, 6})
        boxes_[std::size_t(index)]->setChecked(true);

    // Word wrap makes the label's preferred height depend on its width, so
    // settle the width first.
    const int width = std::max(345, column->sizeHint().width());
    const int height = std::max(192, column->hasHeightForWidth() ? column->heightForWidth(width)
                                                                 : column->sizeHint().height());
    setFixedSize(width, height);
}

int TFormMod::Digit(int group) const
{
    int digit = 0;
    for (int i = 0; i < 3; ++i)
        if (boxes_[std::size_t(group) * 3 + std::size_t(i)]->isChecked())
            digit += Weights[i];
    return digit;
}

QString TFormMod::FormatMode(int owner, int group, int other)
{
    if (owner > 0)
        return QStringLiteral("%1%2%3").arg(owner).arg(group).arg(other);
    if (group > 0)
        return QStringLiteral("%1%2").arg(group).arg(other);
    if (other > 0)
        return QString::number(other);
    return {};
}

void TFormMod::SetMode(int mode)
{
    for (std::size_t index = 0; index < boxes_.size(); ++index)
        boxes_[index]->setChecked((mode & (0400 >> index)) != 0);
}

QString TFormMod::CurrentMode() const { return FormatMode(Digit(0), Digit(1), Digit(2)); }

QString TFormMod::ShownMode() const { return Label3->text(); }

void TFormMod::ShowMode() { Label3->setText(CurrentMode()); }

void TFormMod::Button1Click()
{
    ModeText = CurrentMode();
    Cancelled = false;
    accept();
}

void TFormMod::Button2Click()
{
    Cancelled = true;
    QDialog::reject();
}

// Escape and the close button end up here.
void TFormMod::reject() { Button2Click(); }

void TFormMod::ButHelpClick() { THelpFile::ShowTopic(QStringLiteral("IDH_chmod")); }

void TFormMod::showEvent(QShowEvent* event)
{
    Cancelled = true;
    ShowMode();
    QDialog::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
