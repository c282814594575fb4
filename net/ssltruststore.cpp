#include "net/ssltruststore.h"

#include <QSettings>
#include <QString>

#include <algorithm>
#include <cctype>

namespace {

// The settings place of the program (organisation, application, group),
// with the trusted certificates in a group of their own.
constexpr char Group[] = "Settings/TrustedCertificates";

QString SettingsKey(const std::string& Host, const std::string& Port)
{
    // '/' separates groups in QSettings keys; no host name contains it.
    std::string key = TSslTrustStore::Key(Host, Port);
    std::replace(key.begin(), key.end(), '/', '_');
    return QString::fromStdString(key);
}

} // namespace

std::string TSslTrustStore::Key(const std::string& Host, const std::string& Port)
{
    std::string host = Host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host + ":" + Port;
}

std::string TSslTrustStore::Fingerprint(const std::string& Host, const std::string& Port)
{
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    settings.beginGroup(QLatin1String(Group));
    return settings.value(SettingsKey(Host, Port)).toString().toStdString();
}

TSslTrustStore::TMatch TSslTrustStore::Check(const std::string& Host, const std::string& Port,
                                             const std::string& Fingerprint)
{
    const std::string stored = TSslTrustStore::Fingerprint(Host, Port);
    if (stored.empty() || Fingerprint.empty())
        return trustUnknown;
    return stored == Fingerprint ? trustMatches : trustChanged;
}

void TSslTrustStore::Trust(const std::string& Host, const std::string& Port, const std::string& Fingerprint)
{
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(SettingsKey(Host, Port), QString::fromStdString(Fingerprint));
    settings.sync();
}

void TSslTrustStore::Forget(const std::string& Host, const std::string& Port)
{
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    settings.beginGroup(QLatin1String(Group));
    settings.remove(SettingsKey(Host, Port));
    settings.sync();
}
