#include "profiles/accountstore.h"

#include "platform/appfolder.h"
#include "ui/prompts.h"
#include "profiles/inifile.h"
#include "profiles/passwordvault.h"

#include <QComboBox>

QString AccountFolder() { return appfolder::ApplicationFolder(); }

TRegistrySet AccountStore(const QString& folder)
{
    const QString where = folder.isEmpty() ? AccountFolder() : folder;
    return TRegistrySet(where.toStdString(), [](const std::string& caption, const std::string& text) {
        Prompts().Notice(QString::fromStdString(caption), QString::fromStdString(text), 0);
    });
}

QStringList ProfileNames(const QString& folder)
{
    std::vector<std::string> names;
    AccountStore(folder).GetProfileNames(names);
    QStringList list;
    list.reserve(qsizetype(names.size()));
    for (const std::string& name : names)
        list.append(QString::fromStdString(name));
    return list;
}

void FillQuickConnectList(QComboBox& combo, const QString& folder)
{
    combo.clear();
    combo.addItems(ProfileNames(folder));
    combo.setCurrentIndex(combo.count() > 0 ? 0 : -1);
}

void SaveAccount(const TRegistrySet& store, const QString& name, bool proxy, const QString& proxyName,
                 const QString& host, const QString& user, const QString& password, const QString& port, bool anonymous,
                 bool passive, bool passiveMode, const TSiteChoices& choices)
{
    const QString file = QString::fromStdString(store.FileName());
    const bool inKeyring = !name.trimmed().isEmpty() && passwordvault::Store(file, name, password);
    store.SaveProfile(name.toStdString(), proxy, proxyName.toStdString(), host.toStdString(), user.toStdString(),
                      inKeyring ? std::string() : password.toStdString(), port.toStdString(), anonymous, passive,
                      passiveMode, choices);
    if (!inKeyring)
        return;
    // The passwords other profiles still keep in the file move as well.
    TIniFile ini(store.FileName());
    ini.Load();
    for (const std::string& other : ini.SectionNames()) {
        const std::string plain = ini.ReadString(other, "PassWord", "");
        if (plain.empty())
            continue;
        if (passwordvault::Store(file, QString::fromStdString(other), QString::fromStdString(plain)))
            store.WritePassword(other, std::string());
    }
}

void DeleteAccount(const TRegistrySet& store, const QString& name)
{
    store.DeleteProfile(name.toStdString());
    passwordvault::Remove(QString::fromStdString(store.FileName()), name);
}

QString AccountPassword(const TRegistrySet& store, const QString& name, const QString& filePassword)
{
    if (!filePassword.isEmpty())
        return filePassword;
    return passwordvault::Read(QString::fromStdString(store.FileName()), name).value_or(QString());
}

void LoadQuickConnectFields(const TRegistrySet& store, const QString& name, TSiteFields& fields)
{
    store.LoadQuickConnect(name.toStdString(), fields);
    if (name.isEmpty())
        return;
    fields.SitePassword = AccountPassword(store, name, QString::fromStdString(fields.SitePassword)).toStdString();
}

QString PasswordStorageText()
{
    if (passwordvault::Available())
        return QStringLiteral("Passwords are stored in the desktop keyring");
    return QStringLiteral("Passwords are stored in Accounts.dat (readable only by you)");
}
