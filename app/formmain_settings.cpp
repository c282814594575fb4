// Window placement, the last local folder, the toolbar positions and the
// options of the Options menu, kept per user between runs.

#include "app/formmain.h"

#include "app/listview.h"
#include "ftp/ftpclient.h"

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <QSplitter>

namespace {

// The settings group and key names are fixed: settings written by earlier
// runs, in any settings store, are read back under the same names.
const QString kGroup = QStringLiteral("Settings");
const QString kPath = QStringLiteral("Path");
const QString kState = QStringLiteral("State");
const QString kTop = QStringLiteral("Top");
const QString kLeft = QStringLiteral("Left");
const QString kHeight = QStringLiteral("Height");
const QString kWidth = QStringLiteral("Width");
const QString kToolbars = QStringLiteral("Toolbars");
const QString kSplitters[] = {QStringLiteral("Splitter1"), QStringLiteral("Splitter2"), QStringLiteral("Splitter3")};
const QString kList1Columns = QStringLiteral("List1Columns");
const QString kRemoteFilesColumns = QStringLiteral("RemoteFilesColumns");
const QString kPreserveTimes = QStringLiteral("PreserveTimes");

} // namespace

void TFormMain::CreateOptionSettings()
{
    if (KeepTimes1)
        return;
    KeepTimes1 = new QAction(QStringLiteral("&Keep modification times"), this);
    KeepTimes1->setObjectName(QStringLiteral("KeepTimes1"));
    KeepTimes1->setCheckable(true);
    KeepTimes1->setToolTip(
        QStringLiteral("Downloads take the server's file time; uploads set it on the server when it allows"));
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    KeepTimes1->setChecked(settings.value(kGroup + QLatin1Char('/') + kPreserveTimes, true).toBool());
    Options1->addSeparator();
    Options1->addAction(KeepTimes1);
    QueueSettings1 = new QAction(QStringLiteral("Transfer &Queue Settings..."), this);
    QueueSettings1->setObjectName(QStringLiteral("QueueSettings1"));
    QueueSettings1->setToolTip(QStringLiteral("Connections per site and retries of the transfer queue"));
    Options1->addAction(QueueSettings1);
    connect(QueueSettings1, &QAction::triggered, this, &TFormMain::QueueSettings1Click);
    // Stored at once, like a choice in a settings dialog: a later crash
    // does not forget it.
    connect(KeepTimes1, &QAction::toggled, this, [this](bool on) {
        QSettings stored(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
        stored.setValue(kGroup + QLatin1Char('/') + kPreserveTimes, on);
        if (FTPC1)
            FTPC1->SetPreserveTimes(on);
    });
}

void TFormMain::LoadWindowSettings()
{
    CreateOptionSettings();
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    if (!settings.childGroups().contains(kGroup))
        return;
    settings.beginGroup(kGroup);

    const QString path = settings.value(kPath).toString();
    if (!path.isEmpty())
        SelectFolder(path);

    if (settings.contains(kState)) {
        if (settings.value(kState).toString() == QLatin1String("Max")) {
            setWindowState(windowState() | Qt::WindowMaximized);
        } else {
            const int top = settings.value(kTop, y()).toInt();
            const int left = settings.value(kLeft, x()).toInt();
            const int height = settings.value(kHeight, this->height()).toInt();
            const int width = settings.value(kWidth, this->width()).toInt();
            move(left, top);
            resize(width, height);
        }
    }

    const QByteArray toolbars = settings.value(kToolbars).toByteArray();
    if (!toolbars.isEmpty())
        restoreState(toolbars);

    // The panes as the user left them; without stored heights the local
    // and remote panes share the window (ApplyPaneHeights).
    QSplitter* const splitters[] = {Splitter1, Splitter2, Splitter3};
    for (int i = 0; i < 3; ++i) {
        const QByteArray state = settings.value(kSplitters[i]).toByteArray();
        if (!state.isEmpty() && splitters[i]->restoreState(state) && splitters[i] == Splitter2)
            userPaneHeights_ = true;
    }
    List1->RestoreLayout(settings.value(kList1Columns).toByteArray());
    RemoteFiles->RestoreLayout(settings.value(kRemoteFilesColumns).toByteArray());
    settings.endGroup();
}

void TFormMain::SaveWindowSettings()
{
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    settings.beginGroup(kGroup);
    settings.setValue(kPath, SelectedFolder());
    if (isMaximized()) {
        // The last normal placement stays stored for the next restore.
        settings.setValue(kState, QStringLiteral("Max"));
    } else {
        settings.setValue(kState, QStringLiteral("Normal"));
        settings.setValue(kTop, y());
        settings.setValue(kLeft, x());
        settings.setValue(kHeight, height());
        settings.setValue(kWidth, width());
    }
    settings.setValue(kToolbars, saveState());
    QSplitter* const splitters[] = {Splitter1, Splitter2, Splitter3};
    for (int i = 0; i < 3; ++i)
        settings.setValue(kSplitters[i], splitters[i]->saveState());
    settings.setValue(kList1Columns, List1->SaveLayout());
    settings.setValue(kRemoteFilesColumns, RemoteFiles->SaveLayout());
    if (KeepTimes1)
        settings.setValue(kPreserveTimes, KeepTimes1->isChecked());
    settings.endGroup();
    settings.sync();
}
