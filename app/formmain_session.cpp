// Connecting and leaving: the login dialog, quick connect, disconnect, the
// profile manager, and the tool windows of the Utilities menu.

#include "app/formmain.h"

#include "app/busycursor.h"
#include "ui/prompts.h"
#include "ftp/ftpclient.h"
#include "dialogs/url/validurl.h"
#include "net/winsockloader.h"
#include "net/wsocketaddress.h"
#include "platform/application.h"
#include "profiles/accountstore.h"
#include "profiles/login.h"
#include "profiles/profilehooks.h"
#include "profiles/settform.h"
#include "dialogs/tools/dirinfo.h"
#include "dialogs/tools/dnslookup.h"
#include "dialogs/tools/pingunit.h"

#include <QAction>
#include <QComboBox>

TProfileHooks TFormMain::ProfileHooks()
{
    TProfileHooks hooks;
    hooks.FillQuickConnectList = [this] { FillQuickConnectList(); };
    return hooks;
}

void TFormMain::Connect1Click()
{
    {
        TLogForm form(ProfileHooks(), this);
        form.OnAbort = [this] {
            if (FTPC1->State() != ftpReady)
                FTPC1->AbortAsync();
        };
        form.OnOpenSession = [this](const TSiteFields& fields) {
            SiteHost = QString::fromStdString(fields.SiteHost);
            SiteUser = QString::fromStdString(fields.SiteUser);
            SitePassword = QString::fromStdString(fields.SitePassword);
            SitePort = QString::fromStdString(fields.SitePort);
            SitePassive = fields.SitePassive;
            SiteEncryption = fields.SiteEncryption;
            SiteEncoding = fields.SiteEncoding;
            OpenSession();
        };
        form.exec();
    }
    DefaultCursor();
}

void TFormMain::QuickConnect1Click()
{
    TSiteFields fields;
    fields.SiteHost = SiteHost.toStdString();
    fields.SiteUser = SiteUser.toStdString();
    fields.SitePassword = SitePassword.toStdString();
    fields.SitePort = SitePort.toStdString();
    fields.SitePassive = SitePassive;
    fields.SiteEncryption = SiteEncryption;
    fields.SiteEncoding = SiteEncoding;
    LoadQuickConnectFields(AccountStore(), ComboQuick->currentText(), fields);
    SiteHost = QString::fromStdString(fields.SiteHost);
    SiteUser = QString::fromStdString(fields.SiteUser);
    SitePassword = QString::fromStdString(fields.SitePassword);
    SitePort = QString::fromStdString(fields.SitePort);
    SitePassive = fields.SitePassive;
    SiteEncryption = fields.SiteEncryption;
    SiteEncoding = fields.SiteEncoding;
    OpenSession();
}

void TFormMain::ApplySiteSettings()
{
    FTPC1->SetEncryption(SiteEncryption);
    FTPC1->SetServerEncoding(SiteEncoding);
    FTPC1->SetPreserveTimes(KeepTimes1 == nullptr || KeepTimes1->isChecked());
}

QString TFormMain::DisplayHost() const
{
    const std::string host = FTPC1->HostName();
    if (!WSocketIsIPv6(host))
        return QString::fromStdString(host);
    return QString::fromStdString(WSocketHostPort(WSocketStripBrackets(host), FTPC1->Port()));
}

void TFormMain::Disconnect1Click()
{
    if (!IsConnected()) {
        ShowMessageBox(QStringLiteral("Cannot Execute command"), QStringLiteral("You are already diconnected!"), 0);
        return;
    }
    const TBusyCursor busy;
    try {
        FTPC1->QuitAsync();
    } catch (const std::exception& e) {
        // Refused while another request runs: the session stays as it is.
        Log(QStringLiteral("Error: ") + QString::fromUtf8(e.what()));
    }
}

void TFormMain::Profiles1Click()
{
    TSettForm form(ProfileHooks(), this);
    form.exec();
}

void TFormMain::FillQuickConnectList() { ::FillQuickConnectList(*ComboQuick); }

void TFormMain::ShowWinsockInfo()
{
    try {
        const WSADATA info = WinsockInfo();
        Log(QStringLiteral("Initializing ") + QString::fromLocal8Bit(info.szDescription));
        Log(QStringLiteral("Status: ") + QString::fromLocal8Bit(info.szSystemStatus));
    } catch (const std::exception& e) {
        Log(QStringLiteral("Error: ") + QString::fromUtf8(e.what()));
    }
}

void TFormMain::QuitSession()
{
    try {
        FTPC1->QuitAsync();
    } catch (const std::exception&) {
        // A request still runs; closing the window ends it with the client.
        FTPC1->AbortAsync();
    }
}

void TFormMain::AbortSession() { FTPC1->AbortAsync(); }

void TFormMain::DirectoryInformation1Click()
{
    TDirInfoSource source;
    source.Connected = [this] { return IsConnected(); };
    source.RequestListing = [this] { RequestRemoteListing(); };
    source.ListingFile = ListingFile;
    TFormDir::Execute(this, source);
}

void TFormMain::Ping1Click() { TFormPing::Execute(this); }

void TFormMain::DnsLookup1Click() { TFormDns::Execute(this); }

void TFormMain::URLValidation1Click()
{
    TFormHttp form(this);
    form.exec();
}
