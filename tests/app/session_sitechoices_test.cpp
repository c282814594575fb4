// The site's encryption and server encoding and the keep-times option,
// chosen with the widgets, reach the main window's FTP client; a literal
// IPv6 host shows in brackets with its port.
#include "sessionfixture.h"

#include "ftp/ftpclient.h"
#include "profiles/login.h"
#include "profiles/registryset.h"
#include "profiles/accountstore.h"
#include "support/eventwait.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QProcess>
#include <QTest>
#include <QTimer>

using namespace sessiontest;

namespace {

void Choose(QComboBox& combo, const QString& text)
{
    const int index = combo.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    QTest::mouseClick(&combo, Qt::LeftButton);
    QAbstractItemView* view = combo.view();
    ASSERT_TRUE(QTest::qWaitFor([view] { return view->isVisible(); }, 2000));
    for (int row = view->currentIndex().row(); row < index; ++row)
        QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(combo.currentText(), text);
}

void TypeInto(QLineEdit* edit, const QString& text)
{
    ASSERT_TRUE(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

bool StoredKeepTimes()
{
    return QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"))
        .value(QStringLiteral("Settings/PreserveTimes"), true)
        .toBool();
}

// Answers a login on ::1 and refuses everything after it: enough for the
// connection's caption and log line.
class LoopbackV6Greeter {
public:
    bool Listen()
    {
        static const char* const script = R"(
import socket
s = socket.socket(socket.AF_INET6)
s.bind(("::1", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
c.sendall(b"220 v6 ready\r\n")
for line in c.makefile("rb"):
    verb = line.strip().upper()
    if verb.startswith(b"USER"):
        c.sendall(b"331 password\r\n")
    elif verb.startswith(b"PASS"):
        c.sendall(b"230 in\r\n")
    elif verb.startswith(b"QUIT"):
        c.sendall(b"221 bye\r\n")
        break
    else:
        c.sendall(b"502 not here\r\n")
)";
        process_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script)});
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000))
            return false;
        port_ = process_.readLine().trimmed().toInt();
        return port_ > 0;
    }
    ~LoopbackV6Greeter()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    QString PortText() const { return QString::number(port_); }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace

TEST_F(SessionTest, LoginDialogChoicesAndTheKeepTimesOptionReachTheFtpClient)
{
    StartServer();
    form->show();
    ASSERT_TRUE(form->KeepTimes1);
    EXPECT_TRUE(form->KeepTimes1->isChecked()) << "on by default";
    EXPECT_TRUE(form->Options1->actions().contains(form->KeepTimes1));
    form->KeepTimes1->trigger();
    EXPECT_FALSE(StoredKeepTimes());

    QTimer::singleShot(0, [this] {
        auto* dialog = qobject_cast<TLogForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("Host_Edit")), QStringLiteral("127.0.0.1"));
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("User_Edit")), QString::fromStdString(server->User()));
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("Pass_Edit")),
                 QString::fromStdString(server->Password()));
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("Port_Edit")),
                 QString::fromStdString(server->PortText()));
        // pyftpdlib here speaks no TLS: "if offered" goes on in clear text.
        Choose(*dialog->findChild<QComboBox*>(QStringLiteral("EncryptionBox")),
               QStringLiteral("Explicit TLS if offered"));
        Choose(*dialog->findChild<QComboBox*>(QStringLiteral("EncodingBox")), QStringLiteral("Latin-1"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    });
    form->Connect1Click();
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(form->FTPC1->Encryption(), TFtpEncryption::ExplicitIfOffered);
    EXPECT_EQ(form->FTPC1->ServerEncoding(), TFtpServerEncoding::Latin1);
    EXPECT_FALSE(form->FTPC1->PreserveTimes());
    // Switching the option back applies at once and is stored.
    form->KeepTimes1->trigger();
    EXPECT_TRUE(form->FTPC1->PreserveTimes());
    EXPECT_TRUE(StoredKeepTimes());
    Disconnect();

    // Quick connect takes the stored profile's choices.
    TRegistrySet store(AccountFolder().toStdString());
    store.SaveProfile("local", false, "", "127.0.0.1", server->User(), server->Password(), server->PortText(), false,
                      false, true, {TFtpEncryption::None, TFtpServerEncoding::Utf8});
    form->FillQuickConnectList();
    form->QuickConnect1Click();
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(form->FTPC1->Encryption(), TFtpEncryption::None);
    EXPECT_EQ(form->FTPC1->ServerEncoding(), TFtpServerEncoding::Utf8);
    EXPECT_TRUE(form->FTPC1->PreserveTimes());
}

TEST_F(SessionTest, AnIPv6HostTypedInBracketsConnectsAndShowsInBrackets)
{
    LoopbackV6Greeter greeter;
    if (!greeter.Listen())
        GTEST_SKIP() << "no IPv6 loopback here";
    QTimer::singleShot(0, [&greeter] {
        auto* dialog = qobject_cast<TLogForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("Host_Edit")),
                 QStringLiteral("[::1]:") + greeter.PortText());
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("User_Edit")), QStringLiteral("ann"));
        TypeInto(dialog->findChild<QLineEdit*>(QStringLiteral("Pass_Edit")), QStringLiteral("pw"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    });
    form->Connect1Click();
    EXPECT_EQ(form->SiteHost, QStringLiteral("::1"));
    EXPECT_EQ(form->SitePort, greeter.PortText());
    const QString shown = QStringLiteral("[::1]:") + greeter.PortText();
    EXPECT_EQ(LogCount(*form, QStringLiteral("..Connected to: ") + shown + QStringLiteral(" - IP (::1)")), 1)
        << LogText(*form).toStdString();
    Disconnect();
}
