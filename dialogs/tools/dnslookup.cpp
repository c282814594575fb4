#include "dialogs/tools/dnslookup.h"

#include "ui/prompts.h"
#include "platform/application.h"
#include "dialogs/tools/toolhelp.h"
#include "dialogs/tools/toolwidgets.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <exception>

TFormDns::TFormDns(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Ping1(std::make_unique<TPing>())
{
    setObjectName(QStringLiteral("FormDns"));
    setWindowTitle(QStringLiteral("Domain Lookup"));
    BuildControls();
    // Echo settings of the component as placed on this window; unused here.
    Ping1->SetSize(56);
    Ping1->SetTimeout(3000);
    Ping1->SetTTL(64);
    Ping1->OnDnsLookupDone = [this](TPing*, std::uint16_t error) { Ping1DnsLookupDone(error); };
}

TFormDns::~TFormDns()
{
    // Destroying Ping1 cancels a pending lookup and reports it; the fields
    // that report would touch are about to go.
    Ping1->OnDnsLookupDone = nullptr;
    Ping1.reset();
}

void TFormDns::Execute(QWidget* parent)
{
    std::unique_ptr<TFormDns> form;
    try {
        form = std::make_unique<TFormDns>(parent);
    } catch (const std::exception& e) {
        Prompts().Notice(QStringLiteral("Domain Lookup"), QString::fromStdString(e.what()), 4);
        return;
    }
    form->exec();
}

void TFormDns::BuildControls()
{
    Label3 = new QLabel(QStringLiteral("Type in a domain name to lookup. Click \"Lookup Dns\" and the IP Address "
                                       "will return in the IP Address field."),
                        this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setWordWrap(true);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setReadOnly(true);
    toolwidgets::PaintSilver(*Edit2);
    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setReadOnly(true);
    toolwidgets::PaintSilver(*Edit3);

    Button1 = toolwidgets::MakeButton(this, "Button1", QStringLiteral("&Lookup Dns"));
    Button1->setDefault(true);
    Button2 = toolwidgets::MakeButton(this, "Button2", QStringLiteral("&Cancel"));
    Button2->setEnabled(false);
    // Stays an arrow under the hourglass: it is the one thing to press.
    Button2->setCursor(Qt::ArrowCursor);
    Button3 = toolwidgets::MakeButton(this, "Button3", QStringLiteral("&Exit"));
    Button4 = toolwidgets::MakeButton(this, "Button4", QStringLiteral("&Help"));

    auto* fields = new QFormLayout;
    fields->addRow(toolwidgets::MakeLabel(this, QStringLiteral("Domain to Lookup:"), Edit1), Edit1);
    fields->addRow(toolwidgets::MakeLabel(this, QStringLiteral("IP Address:"), Edit2), Edit2);
    fields->addRow(toolwidgets::MakeLabel(this, QStringLiteral("IPv6 Addresses:"), Edit3), Edit3);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {Button1, Button2, Button3, Button4})
        buttons->addWidget(button);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label3);
    layout->addSpacing(6);
    layout->addLayout(fields);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Edit1->setMinimumWidth(Edit1->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 36);
    Label3->setMinimumWidth(Edit1->minimumWidth());

    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    Edit1->setFocus();

    connect(Button1, &QPushButton::clicked, this, &TFormDns::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormDns::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TFormDns::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TFormDns::Button4Click);
}

void TFormDns::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        toolwidgets::CentreOnScreen(*this);
    }
}

void TFormDns::Button1Click()
{
    if (Edit1->text().isEmpty())
        return;
    SetLookingUp(true);
    Edit2->clear();
    Edit3->clear();
    // A dotted address is answered inside this call, through
    // Ping1DnsLookupDone, which returns the window to idle.
    try {
        Ping1->DnsLookup(Edit1->text().toStdString());
    } catch (const std::exception& e) {
        // Nothing is pending, so nothing would ever bring the window back.
        SetLookingUp(false);
        Application::HandleException(e);
    }
}

void TFormDns::Button2Click()
{
    try {
        Ping1->CancelDnsLookup();
    } catch (const std::exception& e) {
        Application::HandleException(e);
        return;
    }
    SetLookingUp(false);
}

void TFormDns::Button3Click() { close(); }

void TFormDns::Button4Click() { ShowToolHelp(QStringLiteral("IDH_dns")); }

void TFormDns::Ping1DnsLookupDone(std::uint16_t error)
{
    Edit2->setText(error == 0 ? QString::fromStdString(Ping1->DnsResult()) : QStringLiteral("Host not found"));
    QStringList v6;
    if (error == 0)
        for (const std::string& address : Ping1->DnsResultsIPv6())
            v6.append(QString::fromStdString(address));
    Edit3->setText(v6.join(QStringLiteral(", ")));
    SetLookingUp(false);
}

void TFormDns::SetLookingUp(bool lookingUp)
{
    FLookingUp = lookingUp;
    Button1->setEnabled(!lookingUp);
    Button2->setEnabled(lookingUp);
    if (lookingUp)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}
