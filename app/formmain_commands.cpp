// The command table: every main-window command, once.

#include "app/formmain_commands.h"

#include "app/formmain.h"

bool RuleHolds(TEnableRule rule, const TSelectionState& s)
{
    switch (rule) {
    case TEnableRule::Always:
        return true;
    case TEnableRule::Disconnected:
        return !s.Connected;
    case TEnableRule::Connected:
        return s.Connected;
    case TEnableRule::LocalAny:
        return s.Local > 0;
    case TEnableRule::LocalOne:
        return s.Local == 1;
    case TEnableRule::ConnectedLocalAny:
        return s.Connected && s.Local > 0;
    case TEnableRule::ConnectedRemoteFilesAny:
        return s.Connected && s.RemoteFiles > 0;
    case TEnableRule::ConnectedRemoteAny:
        return s.Connected && (s.RemoteFiles > 0 || s.RemoteDirs > 0);
    case TEnableRule::ConnectedRemoteFilesOne:
        return s.Connected && s.RemoteFiles == 1;
    case TEnableRule::ConnectedRemoteDirsAny:
        return s.Connected && s.RemoteDirs > 0;
    case TEnableRule::ConnectedRemoteDirsOne:
        return s.Connected && s.RemoteDirs == 1;
    }
    return true;
}

const std::vector<TCommandRow>& CommandTable()
{
    using F = TFormMain;
    using R = TEnableRule;
    static const std::vector<TCommandRow> table = {
        // Connection.
        {&F::Connect1Click,
         R::Disconnected,
         {{&F::Connect1, "Connect1", "&Connect"}, {&F::TBConnect, "TBConnect", "Connect"}}},
        {&F::QuickConnect1Click, R::Always, {{&F::QuickConnect1, "QuickConnect1", "&Quick Connect"}}},
        {&F::QuickConnect1Click, R::Disconnected, {{&F::TBQuickConnect, "TBQuickConnect", "Quick Connect"}}},
        {&F::Disconnect1Click,
         R::Connected,
         {{&F::Disconnect1, "Disconnect1", "&Disconnect"}, {&F::TBDisconnect, "TBDisconnect", "Disconnect"}}},
        {&F::Profiles1Click, R::Always, {{&F::Profiles1, "Profiles1", "&Profiles"}}},
        {&F::Exit1Click, R::Always, {{&F::Exit1, "Exit1", "&Exit"}}},
        // Transfers.
        {&F::UploadFile1Click,
         R::ConnectedLocalAny,
         {{&F::UploadFile1, "UploadFile1", "&Upload File"},
          {&F::UploadFile2, "UploadFile2", "&Upload File"},
          {&F::TBUpload, "TBUpload", "Upload selected files"}}},
        {&F::DownloadFile1Click,
         R::ConnectedRemoteAny,
         {{&F::DownloadFile1, "DownloadFile1", "Download &File"},
          {&F::DownloadFile2, "DownloadFile2", "&Download File"},
          {&F::TBDownload, "TBDownload", "Download selected files"}}},
        {&F::ResumeDownload1Click,
         R::ConnectedRemoteFilesAny,
         {{&F::ResumeDownload1, "ResumeDownload1", "&Resume Download"},
          {&F::ResumeDownload2, "ResumeDownload2", "Re&sume Download"}}},
        {&F::SendDirectory1Click,
         R::Connected,
         {{&F::SendDirectory1, "SendDirectory1", "U&pload Directory"},
          {&F::UploadDir1, "UploadDir1", "&Upload Directory"}}},
        {&F::DownloadDirectory1Click,
         R::ConnectedRemoteDirsAny,
         {{&F::DownloadDirectory1, "DownloadDirectory1", "Do&wnload Directory"}}},
        // Files.
        {&F::RemoteFile1Click,
         R::ConnectedRemoteFilesAny,
         {{&F::RemoteFile1, "RemoteFile1", "Remote &File"},
          {&F::RemoteFile3, "RemoteFile3", "Remote File"},
          {&F::DeleteFile2, "DeleteFile2", "Delete &File"}}},
        {&F::LocalFile1Click,
         R::LocalAny,
         {{&F::LocalFile1, "LocalFile1", "&Local File"},
          {&F::LocalFile3, "LocalFile3", "Local File"},
          {&F::DeleteFile1, "DeleteFile1", "&Delete File"}}},
        {&F::RemoteFile2Click,
         R::ConnectedRemoteFilesAny,
         {{&F::RemoteFile2, "RemoteFile2", "Remote &File"},
          {&F::RemoteFile4, "RemoteFile4", "Remote File"},
          {&F::RenameFile2, "RenameFile2", "&Rename File"}}},
        {&F::LocalFile2Click,
         R::LocalOne,
         {{&F::LocalFile2, "LocalFile2", "&Local File"},
          {&F::LocalFile4, "LocalFile4", "Local File"},
          {&F::RenameFile1, "RenameFile1", "&Rename File"}}},
        {&F::CHMODFile1Click,
         R::ConnectedRemoteFilesAny,
         {{&F::CHMODFile1, "CHMODFile1", "&CHMOD File"}, {&F::CHMODFile2, "CHMODFile2", "&CHMOD File"}}},
        {&F::ViewRemoteFile1Click,
         R::ConnectedRemoteFilesOne,
         {{&F::ViewRemoteFile1, "ViewRemoteFile1", "&View Remote File"}, {&F::ViewFile2, "ViewFile2", "&View File"}}},
        {&F::ViewLocalFile1Click,
         R::LocalOne,
         {{&F::ViewLocalFile1, "ViewLocalFile1", "View Local &File"}, {&F::ViewFile1, "ViewFile1", "&View File"}}},
        // Directories.
        {&F::ChangeDirectory1Click,
         R::Connected,
         {{&F::ChangeDirectory1, "ChangeDirectory1", "&Change Directory"},
          {&F::ChangeDirectory2, "ChangeDirectory2", "&Change Directory"}}},
        {&F::Remote1Click,
         R::Connected,
         {{&F::Remote1, "Remote1", "&Remote"},
          {&F::CreateDirectory2, "CreateDirectory2", "Create Di&rectory"},
          {&F::CreateRemoteDirectory1, "CreateRemoteDirectory1", "Create Remote Directory"}}},
        {&F::Local1Click,
         R::Always,
         {{&F::Local1, "Local1", "&Local"},
          {&F::CreateDir1, "CreateDir1", "&Create Directory"},
          {&F::CreateLocalDirectory1, "CreateLocalDirectory1", "Create Local Directory"}}},
        {&F::UpDirectory1Click,
         R::Connected,
         {{&F::UpDirectory1, "UpDirectory1", "&Up Directory"}, {&F::UpDirectory2, "UpDirectory2", "&Up Directory"}}},
        {&F::RemoteDirectory1Click,
         R::ConnectedRemoteDirsAny,
         {{&F::RemoteDirectory1, "RemoteDirectory1", "Remote &Directory"},
          {&F::RemoteDirectory3, "RemoteDirectory3", "Remote Directory"},
          {&F::DeleteDirectory1, "DeleteDirectory1", "Dele&te Directory"}}},
        {&F::LocalDirectory1Click,
         R::Always,
         {{&F::LocalDirectory1, "LocalDirectory1", "&Local Directory"},
          {&F::LocalDirectory3, "LocalDirectory3", "Local Directory"},
          {&F::DeleteDir1, "DeleteDir1", "&Delete Directory"}}},
        {&F::RemoteDirectory2Click,
         R::ConnectedRemoteDirsOne,
         {{&F::RemoteDirectory2, "RemoteDirectory2", "Remote &Directory"},
          {&F::RemoteDirectory4, "RemoteDirectory4", "Remote Directory"},
          {&F::RenameDirectory1, "RenameDirectory1", "&Rename Directory"}}},
        {&F::LocalDirectory2Click,
         R::Always,
         {{&F::LocalDirectory2, "LocalDirectory2", "&Local Directory"},
          {&F::LocalDirectory4, "LocalDirectory4", "Local Directory"},
          {&F::RenameDir1, "RenameDir1", "&Rename Directory"}}},
        {&F::CHMODDirectory1Click,
         R::ConnectedRemoteDirsAny,
         {{&F::CHMODDirectory1, "CHMODDirectory1", "CHMOD &Directory"},
          {&F::CHMODDirectory2, "CHMODDirectory2", "C&HMOD Directory"}}},
        // Options.
        {&F::SendCommand1Click, R::Connected, {{&F::SendCommand1, "SendCommand1", "&Send Command"}}},
        {&F::RefreshRemoteListing1Click,
         R::Connected,
         {{&F::RefreshRemoteListing1, "RefreshRemoteListing1", "&Refresh Remote Listing"}}},
        {&F::RefreshLocalListing1Click,
         R::Always,
         {{&F::RefreshLocalListing1, "RefreshLocalListing1", "Refresh &Local Listing"}}},
        // View.
        {&F::QuickConnectBar1Click, R::Always, {{&F::QuickConnectBar1, "QuickConnectBar1", "&Quick Connect Bar"}}},
        {&F::MainToolbar1Click, R::Always, {{&F::MainToolbar1, "MainToolbar1", "&Main Toolbar"}}},
        {&F::TransferModeBar1Click, R::Always, {{&F::TransferModeBar1, "TransferModeBar1", "&Transfer Mode Bar"}}},
        {&F::IconView1Click,
         R::Always,
         {{&F::IconView1, "IconView1", "Large &Icons"}, {&F::TBLgIcons, "TBLgIcons", "Large Icons"}}},
        {&F::ListView1Click,
         R::Always,
         {{&F::ListView1, "ListView1", "&List View"}, {&F::TBList, "TBList", "List View"}}},
        {&F::SmallIcons1Click,
         R::Always,
         {{&F::SmallIcons1, "SmallIcons1", "&Small Icons"}, {&F::TBSmIcons, "TBSmIcons", "Small Icons"}}},
        {&F::ReportView1Click,
         R::Always,
         {{&F::ReportView1, "ReportView1", "&Details"}, {&F::TBDetails, "TBDetails", "Details"}}},
        // Utilities.
        {&F::DirectoryInformation1Click,
         R::Connected,
         {{&F::DirectoryInformation1, "DirectoryInformation1", "&Directory Information"},
          {&F::TBGetDir, "TBGetDir", "Directory Information"}}},
        {&F::Ping1Click, R::Always, {{&F::Ping1, "Ping1", "&Ping"}}},
        {&F::DnsLookup1Click, R::Always, {{&F::DnsLookup1, "DnsLookup1", "Dns &Lookup"}}},
        {&F::URLValidation1Click, R::Always, {{&F::URLValidation1, "URLValidation1", "&URL Information"}}},
        // Help.
        {&F::AboutTarvik1Click, R::Always, {{&F::AboutTarvik1, "AboutTarvik1", "&About Tarvik"}}},
        {&F::HelpContents1Click, R::Always, {{&F::HelpContents1, "HelpContents1", "Help &Contents"}}},
        {&F::HelpIndex1Click, R::Always, {{&F::HelpIndex1, "HelpIndex1", "Help &Index"}}},
        {&F::VeltraneOnline1Click, R::Always, {{&F::VeltraneOnline1, "VeltraneOnline1", "&Veltrane Online"}}},
        // Drop-down toolbar buttons: they only open their menus.
        {nullptr,
         R::Always,
         {{&F::TBDelete, "TBDelete", "Delete"},
          {&F::ToolbarButton971, "ToolbarButton971", "Create Directory"},
          {&F::TBRename, "TBRename", "Rename"}}},
    };
    return table;
}
