// Which commands can be used, view styles, toolbars and the transfer mode.

#include "app/formmain.h"

#include "app/formmain_commands.h"
#include "app/listview.h"

#include <QAction>
#include <QRadioButton>
#include <QToolBar>

void TFormMain::SetControls() { SetControls(IsConnected()); }

void TFormMain::SetControls(bool connected)
{
    const TSelectionState state{connected, List1->SelCount(), RemoteFiles->SelCount(), RemoteDirs->SelCount()};
    for (const TCommandRow& row : CommandTable()) {
        const bool enabled = RuleHolds(row.Rule, state);
        for (const TCommandAction& action : row.Actions)
            (this->*action.Slot)->setEnabled(enabled);
    }

    // isHidden, not isVisible: a toolbar of a window not yet shown is not
    // visible, yet it is not closed either.
    QuickConnectBar1->setChecked(!Toolbar1->isHidden());
    MainToolbar1->setChecked(!Toolbar2->isHidden());
    TransferModeBar1->setChecked(!Toolbar3->isHidden());
}

TViewStyle TFormMain::ViewStyle() const { return List1->ViewStyle(); }

void TFormMain::SetViewStyle(TViewStyle style, QAction* menuItem, QAction* button)
{
    List1->SetViewStyle(style);
    RemoteFiles->SetViewStyle(style);
    for (QAction* item : {IconView1, ListView1, SmallIcons1, ReportView1})
        item->setChecked(item == menuItem);
    button->setChecked(true);
}

void TFormMain::IconView1Click() { SetViewStyle(TViewStyle::vsIcon, IconView1, TBLgIcons); }
void TFormMain::ListView1Click() { SetViewStyle(TViewStyle::vsList, ListView1, TBList); }
void TFormMain::SmallIcons1Click() { SetViewStyle(TViewStyle::vsSmallIcon, SmallIcons1, TBSmIcons); }
void TFormMain::ReportView1Click() { SetViewStyle(TViewStyle::vsReport, ReportView1, TBDetails); }

void TFormMain::ToggleToolbar(QAction* menuItem, QToolBar* toolbar)
{
    // The action toggled its own check mark already when it was triggered
    // from the menu; the bar follows it.
    toolbar->setVisible(menuItem->isChecked());
}

void TFormMain::QuickConnectBar1Click() { ToggleToolbar(QuickConnectBar1, Toolbar1); }
void TFormMain::MainToolbar1Click() { ToggleToolbar(MainToolbar1, Toolbar2); }
void TFormMain::TransferModeBar1Click() { ToggleToolbar(TransferModeBar1, Toolbar3); }

void TFormMain::ColourTransferModes()
{
    const QColor teal(0, 128, 128);
    const QColor red(Qt::red);
    QPalette binary = Radio1->palette();
    binary.setColor(QPalette::WindowText, Radio1->isChecked() ? teal : red);
    binary.setColor(QPalette::ButtonText, Radio1->isChecked() ? teal : red);
    Radio1->setPalette(binary);
    QPalette ascii = Radio2->palette();
    ascii.setColor(QPalette::WindowText, Radio2->isChecked() ? teal : red);
    ascii.setColor(QPalette::ButtonText, Radio2->isChecked() ? teal : red);
    Radio2->setPalette(ascii);
}

void TFormMain::Radio1Click() { ColourTransferModes(); }
void TFormMain::Radio2Click() { ColourTransferModes(); }

bool TFormMain::BinaryMode() const { return Radio1->isChecked(); }
