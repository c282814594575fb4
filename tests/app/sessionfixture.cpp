#include "sessionfixture.h"

#include "ftp/ftpclient.h"
#include "profiles/accountstore.h"
#include "profiles/registryset.h"
#include "support/eventwait.h"
#include "support/testfiles.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QSettings>

namespace sessiontest {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray Pattern(qint64 size, int seed)
{
    return QByteArray::fromStdString(testsupport::RandomBytes(std::size_t(size), unsigned(seed)));
}

QStringList Captions(const TListView* list)
{
    QStringList captions;
    for (int row = 0; row < list->Items()->Count(); ++row)
        captions.append(list->Items()->Item(row).Caption);
    return captions;
}

QModelIndex RowIndex(const TListView* list, const QString& caption)
{
    const TListModel* items = list->Items();
    for (int row = 0; row < items->Count(); ++row)
        if (items->Item(row).Caption == caption)
            return items->index(row, 0);
    return {};
}

void Select(TListView* list, const QStringList& captions)
{
    list->ClearSelection();
    for (int row = 0; row < list->Items()->Count(); ++row) {
        if (captions.contains(list->Items()->Item(row).Caption))
            list->SelectRow(row);
    }
    ASSERT_EQ(list->SelCount(), captions.size()) << Captions(list).join(QLatin1Char('|')).toStdString();
}

QString LogText(const TFormMain& form) { return form.Memo1->toPlainText(); }

int LogCount(const TFormMain& form, const QString& line)
{
    return int(LogText(form).split(QLatin1Char('\n')).count(line));
}

void SessionTest::SetUp()
{
    QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")).remove(QStringLiteral("Settings"));
    QFile::remove(AccountFolder() + QStringLiteral("/Accounts.dat"));
    ASSERT_TRUE(local.isValid());
    form = std::make_unique<TFormMain>();
    ASSERT_TRUE(form->SelectFolder(local.path()));
    form->SetLocalFiles();
    prompts.Clear();
}

void SessionTest::TearDown()
{
    if (form && form->IsConnected()) {
        form->FTPC1->AbortAsync();
    }
    form.reset();
    server.reset();
}

void SessionTest::StartServer(testsupport::FtpTestServer::Kind kind)
{
    std::string whyNot;
    server = testsupport::FtpTestServer::Start(kind, &whyNot);
    ASSERT_TRUE(server) << whyNot;
}

QString SessionTest::Remote(const QString& name) const
{
    return QString::fromStdString(server->Root()) + QLatin1Char('/') + name;
}

void SessionTest::QuickConnect(bool passive)
{
    ASSERT_TRUE(server);
    TRegistrySet store(AccountFolder().toStdString());
    store.SaveProfile("local", false, "", "127.0.0.1", server->User(), server->Password(), server->PortText(), false,
                      passive);
    form->FillQuickConnectList();
    ASSERT_EQ(form->ComboQuick->currentText(), QStringLiteral("local"));
    form->QuickConnect1Click();
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString() << server->Log();
}

void SessionTest::ConnectFake(const ftptest::FakeFtpServer& fake)
{
    form->SiteHost = QStringLiteral("127.0.0.1");
    form->SiteUser = QStringLiteral("user");
    form->SitePassword = QStringLiteral("secret");
    form->SitePort = QString::fromStdString(fake.PortText());
    form->SitePassive = true;
    form->OpenSession();
}

void SessionTest::Disconnect()
{
    if (!form->IsConnected())
        return;
    form->Disconnect1Click();
    testsupport::WaitFor([this] { return !form->IsConnected(); }, 5000);
}

} // namespace sessiontest
