// The remote panes: listing the current remote directory into the listing
// file, reading that file into the two lists, and moving between remote
// directories.

#include "app/formmain.h"

#include "app/listingparser.h"
#include "app/listview.h"
#include "dialogs/prompts.h"
#include "ftp/ftpclient.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <string_view>

namespace {

// A listing line may hold anything the server sends. The lists show at most
// this many characters of a field; the item keeps the whole name.
constexpr qsizetype kShownLength = 512;

// The text to show for a field: control characters made visible as their
// Unicode control pictures, overlong text cut short with an ellipsis.
QString Shown(const std::string& bytes, bool& changed)
{
    QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    changed = false;
    for (QChar& c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20) {
            c = QChar(char16_t(0x2400 + code));
            changed = true;
        } else if (code == 0x7F) {
            c = QChar(char16_t(0x2421));
            changed = true;
        }
    }
    if (text.size() > kShownLength) {
        text.truncate(kShownLength);
        text.append(QChar(0x2026));
        changed = true;
    }
    return text;
}

QString Shown(const std::string& bytes)
{
    bool changed = false;
    return Shown(bytes, changed);
}

} // namespace

QString TFormMain::ItemName(const TListView* list, int row)
{
    return list->Items()->Name(row);
}

void TFormMain::RequestRemoteListing()
{
    ProgressActive = false;
    HourglassCursor();
    QFile::remove(ListingFile);
    FTPC1->SetLocalFileName(QFile::encodeName(ListingFile).toStdString());
    FTPC1->SetHostFileName(std::string());
    RunRequest(&TFtpClient::Dir);
    DefaultCursor();
}

void TFormMain::ParseRemoteListing()
{
    SelectionList.clear();
    if (!IsConnected()) {
        ShowMessageBox(QStringLiteral("No Connection"),
                       QStringLiteral("Tarvik can not get a directory listing because there is no connection to a "
                                      "remote host!"),
                       0);
        return;
    }
    QFile file(ListingFile);
    if (QFileInfo(ListingFile).isDir() || !file.open(QIODevice::ReadOnly)) {
        DoError(QStringLiteral("Cannot open file \"") + ListingFile + QStringLiteral("\". ") + file.errorString());
        return;
    }
    const QByteArray listing = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        DoError(QStringLiteral("Cannot read file \"") + ListingFile + QStringLiteral("\". ") + file.errorString());
        return;
    }
    file.close();

    for (TListView* list : {RemoteFiles, RemoteDirs}) {
        list->BeginUpdate();
        list->Clear();
    }
    // Lines end with CR LF, LF or CR, as a text file is read.
    const std::string_view text(listing.constData(), std::size_t(listing.size()));
    TListingEntry entry;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++start;
        if (!ParseListingLine(line, entry))
            continue;
        TListItem item;
        bool changed = false;
        item.Caption = Shown(entry.Name, changed);
        item.ImageIndex = entry.ImageIndex;
        if (!entry.IsDirectory)
            item.SubItems = QStringList{Shown(entry.Size), Shown(entry.Date), Shown(entry.Perm)};
        TListModel* items = entry.IsDirectory ? RemoteDirs->Items() : RemoteFiles->Items();
        if (changed)
            items->Add(std::move(item), QString::fromUtf8(entry.Name.data(), qsizetype(entry.Name.size())));
        else
            items->Add(std::move(item));
    }
    RemoteFiles->EndUpdate();
    RemoteDirs->EndUpdate();
    SelectionList.clear();
}

void TFormMain::RemoteDirsDblClick()
{
    const std::vector<int> selected = RemoteDirs->SelectedRows();
    if (selected.empty()) {
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You must click on the folder to change directories."),
                         2);
        return;
    }
    HourglassCursor();
    const QString caption = ItemName(RemoteDirs, selected.front());
    const qsizetype arrow = caption.indexOf(QLatin1String("->"));
    const QString target = arrow >= 0 ? caption.mid(arrow + 3) : caption;
    FTPC1->SetHostDirName(target.toStdString());
    RunRequest(&TFtpClient::Cwd);
    DefaultCursor();
}

void TFormMain::UpDirectory1Click()
{
    HourglassCursor();
    RunRequest(&TFtpClient::CDup);
    DefaultCursor();
}

void TFormMain::RefreshRemoteListing1Click() { RequestRemoteListing(); }
