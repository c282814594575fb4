#include "profiles/passwordvault.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <cstdlib>

namespace passwordvault {

namespace {

const QString kService = QStringLiteral("Tarvik");
constexpr int kWaitMs = 5000;

QString Key(const QString& accountFile, const QString& profile)
{
    return QFileInfo(accountFile).absoluteFilePath() + QLatin1Char('|') + profile;
}

// Runs a job to its end (or the time limit) in the event loop; true when it
// finished in time.
bool Run(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished)
        loop.exec();
    return finished;
}

bool BusHasSecretService()
{
    if (std::getenv("TARVIK_NO_KEYRING"))
        return false;
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString name = QStringLiteral("org.freedesktop.secrets");
    if (bus.interface()->isServiceRegistered(name).value())
        return true;
    const QStringList activatable = bus.interface()->activatableServiceNames().value();
    return activatable.contains(name);
}

} // namespace

bool Available()
{
    // Asked once per session bus: the answer does not change while the
    // program runs.
    static QByteArray checkedBus;
    static bool available = false;
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS") + (std::getenv("TARVIK_NO_KEYRING") ? "-" : "+");
    if (bus == checkedBus)
        return available;
    checkedBus = bus;
    available = false;
    if (!BusHasSecretService())
        return false;
    QKeychain::ReadPasswordJob probe(kService);
    probe.setKey(QStringLiteral("probe"));
    if (!Run(probe))
        return false;
    available = probe.error() == QKeychain::NoError || probe.error() == QKeychain::EntryNotFound;
    return available;
}

bool Store(const QString& accountFile, const QString& profile, const QString& password)
{
    if (!Available())
        return false;
    QKeychain::WritePasswordJob job(kService);
    job.setKey(Key(accountFile, profile));
    job.setTextData(password);
    return Run(job) && job.error() == QKeychain::NoError;
}

std::optional<QString> Read(const QString& accountFile, const QString& profile)
{
    if (!Available())
        return std::nullopt;
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(Key(accountFile, profile));
    if (!Run(job) || job.error() != QKeychain::NoError)
        return std::nullopt;
    return job.textData();
}

void Remove(const QString& accountFile, const QString& profile)
{
    if (!Available())
        return;
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(Key(accountFile, profile));
    Run(job);
}

} // namespace passwordvault
