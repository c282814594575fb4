// The remote panes: listing the current remote directory into the listing
// file, reading that file into the two lists, and moving between remote
// directories.

#include "app/formmain.h"

#include "app/busycursor.h"
#include "app/imagelist.h"
#include "app/listformat.h"
#include "app/listingparser.h"
#include "app/listview.h"
#include "ui/prompts.h"
#include "ftp/ftpclient.h"
#include "ftp/ftpnamecodec.h"

#include <QFile>
#include <QDateTime>
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

QString TFormMain::ItemName(const TListView* list, int row) { return list->Items()->Name(row); }

void TFormMain::RequestRemoteListing()
{
    ProgressActive = false;
    const TBusyCursor busy;
    QFile::remove(ListingFile);
    FTPC1->SetLocalFileName(QFile::encodeName(ListingFile).toStdString());
    FTPC1->SetHostFileName(std::string());
    RunRequest(PanesUseMlsd(FTPC1->Features()) ? &TFtpClient::Mlsd : &TFtpClient::Dir);
}

namespace {

// Reads one line of the listing file into `entry`; false for lines that are
// no entry to show. `seconds` is the time the reader found (0: let the
// date text be read).
bool ReadRemoteLine(std::string_view line, bool mlsd, TListingEntry& entry, std::int64_t& seconds)
{
    seconds = 0;
    if (mlsd) {
        TFtpListEntry read;
        if (ParseMlsdLine(line, read) != TFtpLineResult::Entry)
            return false;
        return ListingEntryFromFtp(read, entry, seconds);
    }
    // DOS/IIS lines start with their date; everything else is read by
    // position as before.
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') {
        static const TFtpTime now{};
        TFtpListEntry read;
        if (ParseListLine(line, now, read) == TFtpLineResult::Entry && read.Format == TFtpListFormat::Dos)
            return ListingEntryFromFtp(read, entry, seconds);
    }
    return ParseListingLine(line, entry);
}

} // namespace

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
    const bool mlsd = FTPC1->RequestType() == ftpMlsdAsync;
    // Names arrive in the connection's encoding and are shown as UTF-8;
    // bytes the encoding does not allow keep their escapes, so the name
    // goes back to the server as it came.
    const TFtpNameCodec codec(FTPC1->WireEncoding());
    TListingEntry entry;
    std::int64_t seconds = 0;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++start;
        if (!ReadRemoteLine(line, mlsd, entry, seconds))
            continue;
        entry.Name = codec.ToDisplay(entry.Name);
        TListItem item;
        bool changed = false;
        item.Caption = Shown(entry.Name, changed);
        item.ImageIndex = entry.ImageIndex;
        QString name = QString::fromUtf8(entry.Name.data(), qsizetype(entry.Name.size()));
        // A link's target may be a file or a directory, and the listing does
        // not say which: it is listed with the files, under its own name,
        // and a double-click tries it as a directory first.
        const bool inDirs = entry.IsDirectory && !entry.IsLink;
        if (entry.IsLink) {
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow >= 0) {
                name.truncate(arrow);
                changed = true;
            }
            item.ImageIndex = kRemoteLinkImage;
        }
        item.IsFolder = inDirs;
        item.Mode = entry.Mode;
        if (!inDirs) {
            item.SubItems = QStringList{Shown(entry.Size), Shown(entry.Date), Shown(entry.Perm)};
            bool sizeOk = false;
            const qint64 size =
                QString::fromLatin1(entry.Size.data(), qsizetype(entry.Size.size())).trimmed().toLongLong(&sizeOk);
            if (sizeOk && size >= 0)
                item.Size = size;
            qint64 listed = 0;
            // MLSD times are UTC to the second: a download can keep them
            // without asking MDTM. Other listings' times are the server's
            // local time, often to the minute or day only, and a link's
            // time is the link's, not that of the file a download fetches.
            item.TimeExact = mlsd && seconds > 0 && !entry.IsLink;
            if (seconds > 0)
                item.Time = seconds;
            else if (ListingTime(QString::fromUtf8(entry.Date.data(), qsizetype(entry.Date.size())), now, listed))
                item.Time = listed;
        }
        TListModel* items = inDirs ? RemoteDirs->Items() : RemoteFiles->Items();
        if (changed)
            items->Add(std::move(item), name);
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
        Prompts().Notice(QStringLiteral("Tarvik"),
                         QStringLiteral("You must click on the folder to change directories."), 2);
        return;
    }
    const TBusyCursor busy;
    const QString caption = ItemName(RemoteDirs, selected.front());
    const qsizetype arrow = caption.indexOf(QLatin1String("->"));
    const QString target = arrow >= 0 ? caption.mid(arrow + 3) : caption;
    FTPC1->SetHostDirName(target.toStdString());
    RunRequest(&TFtpClient::Cwd);
}

void TFormMain::RemoteFilesDblClick()
{
    const std::vector<int> selected = RemoteFiles->SelectedRows();
    if (selected.size() == 1 && RemoteFiles->Items()->Item(selected.front()).ImageIndex == kRemoteLinkImage) {
        // A link to a directory: enter it. The request-done handler lists
        // it; a refusal only logs, and the link is then taken as a file.
        const TBusyCursor busy;
        FTPC1->SetHostDirName(ItemName(RemoteFiles, selected.front()).toStdString());
        if (RunRequest(&TFtpClient::Cwd))
            return;
    }
    if (!selected.empty())
        DownloadFile1Click();
}

void TFormMain::UpDirectory1Click()
{
    const TBusyCursor busy;
    RunRequest(&TFtpClient::CDup);
}

void TFormMain::RefreshRemoteListing1Click() { RequestRemoteListing(); }
