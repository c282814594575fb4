#include "profiles/registryset.h"

#include "profiles/folderlock.h"
#include "profiles/inifile.h"
#include "profiles/sitechoices.h"

namespace {

const char* const kFileName = "Accounts.dat";
const char* const kDefaultPort = "21";
const char* const kPassiveMode = "PassiveMode";
const char* const kEncryption = "Encryption";
const char* const kServerEncoding = "Server encoding";

TSiteChoices ChoicesOf(const TIniFile& file, const std::string& name)
{
    TSiteChoices choices;
    if (!file.HasSection(name))
        return choices;
    choices.Encryption = EncryptionFromText(file.ReadString(name, kEncryption, ""));
    choices.Encoding = ServerEncodingFromText(file.ReadString(name, kServerEncoding, ""));
    return choices;
}

bool PassiveModeOf(const TIniFile& file, const std::string& name)
{
    if (!file.HasSection(name))
        return false;
    return file.ReadBool(name, kPassiveMode, !file.Read(name, kPassiveMode).has_value());
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

// A name the file could not give back (blank, or only line breaks) is no
// name at all.
bool IsBlankName(const std::string& name)
{
    for (const char c : name)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0')
            return false;
    return true;
}

} // namespace

TRegistrySet::TRegistrySet(std::string folder, TNotice notice) : folder_(std::move(folder)), notice_(std::move(notice))
{
}

std::string TRegistrySet::FileName() const
{
    if (folder_.empty())
        return kFileName;
    if (folder_.back() == '/')
        return folder_ + kFileName;
    return folder_ + "/" + kFileName;
}

void TRegistrySet::Notify(const std::string& caption, const std::string& text) const
{
    if (notice_)
        notice_(caption, text);
}

std::vector<std::string>& TRegistrySet::GetProfileNames(std::vector<std::string>& list) const
{
    list.clear();
    TIniFile file(FileName());
    file.Load();
    list = file.SectionNames();
    return list;
}

std::vector<std::string>& TRegistrySet::LoadProfile(std::vector<std::string>& list, const std::string& name) const
{
    if (name.empty()) {
        Notify("Corrupt data", "The data for this account has become corrupted. Please create the account again.");
        return list;
    }
    TIniFile file(FileName());
    file.Load();
    list.push_back(name);
    list.push_back(BoolText(file.ReadBool(name, "Proxy", false)));
    list.push_back(file.ReadString(name, "ProxyName", ""));
    list.push_back(file.ReadString(name, "HostName", ""));
    list.push_back(file.ReadString(name, "UserName", ""));
    list.push_back(file.ReadString(name, "PassWord", ""));
    list.push_back(file.ReadString(name, "Port", kDefaultPort));
    list.push_back(BoolText(file.ReadBool(name, "Anonymous", false)));
    list.push_back(BoolText(file.ReadBool(name, "Passive", false)));
    return list;
}

void TRegistrySet::LoadQuickConnect(const std::string& name, TSiteFields& fields) const
{
    if (name.empty()) {
        Notify("Quick Connect", "There is no profile name to connect to!");
        return;
    }
    TIniFile file(FileName());
    file.Load();
    const bool proxy = file.ReadBool(name, "Proxy", false);
    const std::string host = file.ReadString(name, "HostName", "");
    const std::string user = file.ReadString(name, "UserName", "");
    fields.SiteProxy = proxy;
    fields.SiteHost = proxy ? file.ReadString(name, "ProxyName", "") : host;
    fields.SiteUser = proxy ? user + "@" + host : user;
    fields.SitePassword = file.ReadString(name, "PassWord", "");
    // The profile manager stores an empty port when the field was left
    // empty; connecting to no port at all cannot work, the FTP port can.
    fields.SitePort = file.ReadString(name, "Port", kDefaultPort);
    if (fields.SitePort.empty())
        fields.SitePort = kDefaultPort;
    fields.SitePassive = file.ReadBool(name, "Passive", false) || PassiveModeOf(file, name);
    const TSiteChoices choices = ChoicesOf(file, name);
    fields.SiteEncryption = choices.Encryption;
    fields.SiteEncoding = choices.Encoding;
}

TSiteChoices TRegistrySet::LoadSiteChoices(const std::string& name) const
{
    TIniFile file(FileName());
    file.Load();
    return ChoicesOf(file, name);
}

bool TRegistrySet::LoadPassiveMode(const std::string& name) const
{
    TIniFile file(FileName());
    file.Load();
    return PassiveModeOf(file, name);
}

void TRegistrySet::SaveProfile(const std::string& name, bool proxy, const std::string& proxyName,
                               const std::string& hostName, const std::string& userName, const std::string& password,
                               const std::string& port, bool anonymous, bool passive) const
{
    SaveProfile(name, proxy, proxyName, hostName, userName, password, port, anonymous, passive, passive);
}

void TRegistrySet::SaveProfile(const std::string& name, bool proxy, const std::string& proxyName,
                               const std::string& hostName, const std::string& userName, const std::string& password,
                               const std::string& port, bool anonymous, bool passive, bool passiveMode) const
{
    Save(name, proxy, proxyName, hostName, userName, password, port, anonymous, passive, passiveMode, std::nullopt);
}

void TRegistrySet::SaveProfile(const std::string& name, bool proxy, const std::string& proxyName,
                               const std::string& hostName, const std::string& userName, const std::string& password,
                               const std::string& port, bool anonymous, bool passive, bool passiveMode,
                               const TSiteChoices& choices) const
{
    Save(name, proxy, proxyName, hostName, userName, password, port, anonymous, passive, passiveMode, choices);
}

void TRegistrySet::Save(const std::string& name, bool proxy, const std::string& proxyName, const std::string& hostName,
                        const std::string& userName, const std::string& password, const std::string& port,
                        bool anonymous, bool passive, bool passiveMode,
                        const std::optional<TSiteChoices>& choices) const
{
    if (IsBlankName(name)) {
        Notify("No Account Name", "You must provide a name for an account!");
        return;
    }
    const TFolderLock lock(folder_);
    TIniFile file(FileName());
    file.Load();
    file.WriteBool(name, "Proxy", proxy);
    file.WriteString(name, "ProxyName", proxyName);
    file.WriteString(name, "HostName", hostName);
    file.WriteString(name, "UserName", userName);
    file.WriteString(name, "PassWord", password);
    file.WriteString(name, "Port", port);
    file.WriteBool(name, "Anonymous", anonymous);
    file.WriteBool(name, "Passive", passive);
    file.WriteBool(name, kPassiveMode, passiveMode);
    if (choices) {
        file.WriteString(name, kEncryption, EncryptionText(choices->Encryption));
        file.WriteString(name, kServerEncoding, ServerEncodingText(choices->Encoding));
    }
    file.Save();
}

void TRegistrySet::WritePassword(const std::string& name, const std::string& password) const
{
    const TFolderLock lock(folder_);
    TIniFile file(FileName());
    file.Load();
    if (!file.HasSection(name))
        return;
    file.WriteString(name, "PassWord", password);
    file.Save();
}

void TRegistrySet::DeleteProfile(const std::string& name) const
{
    const TFolderLock lock(folder_);
    TIniFile file(FileName());
    file.Load();
    if (!file.EraseSection(name))
        return;
    file.Save();
}
