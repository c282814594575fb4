// The FTP session as seen from the window: connecting, leaving, and every
// command that needs the server. The connection flow fills these in; until
// then nothing is ever connected, so none of them can be reached from the
// menus (SetControls keeps them disabled) except the connect commands.

#include "app/formmain.h"

void TFormMain::Connect1Click() {}
void TFormMain::QuickConnect1Click() {}

void TFormMain::Disconnect1Click()
{
    if (!IsConnected()) {
        ShowMessageBox(QStringLiteral("Cannot Execute command"), QStringLiteral("You are already diconnected!"), 0);
        return;
    }
}

void TFormMain::Profiles1Click() {}

void TFormMain::FillQuickConnectList()
{
    // Filled from the account store once it is part of the program.
}

void TFormMain::ShowWinsockInfo()
{
    // Logged from the socket layer's description once the session is part
    // of the window.
}

void TFormMain::QuitSession() {}
void TFormMain::AbortSession() {}

void TFormMain::UploadFile1Click() {}
void TFormMain::DownloadFile1Click() {}
void TFormMain::ResumeDownload1Click() {}
void TFormMain::SendDirectory1Click() {}
void TFormMain::RemoteFile1Click() {}
void TFormMain::RemoteFile2Click() {}
void TFormMain::ChangeDirectory1Click() {}
void TFormMain::Remote1Click() {}
void TFormMain::UpDirectory1Click() {}
void TFormMain::RemoteDirectory1Click() {}
void TFormMain::RemoteDirectory2Click() {}
void TFormMain::CHMODFile1Click() {}
void TFormMain::CHMODDirectory1Click() {}
void TFormMain::SendCommand1Click() {}
void TFormMain::ViewRemoteFile1Click() {}
void TFormMain::RefreshRemoteListing1Click() {}
void TFormMain::RemoteDirsDblClick() {}
void TFormMain::DirectoryInformation1Click() {}
void TFormMain::Ping1Click() {}
void TFormMain::DnsLookup1Click() {}
void TFormMain::URLValidation1Click() {}

// Local file commands.
void TFormMain::LocalFile1Click() {}
void TFormMain::LocalFile2Click() {}
void TFormMain::Local1Click() {}
void TFormMain::LocalDirectory1Click() {}
void TFormMain::LocalDirectory2Click() {}
void TFormMain::ViewLocalFile1Click() {}
