// The main window's certificate question for an FTPS server whose
// certificate fails verification: asked through the prompts interface with
// the certificate's details, "Cancel" leaves the window disconnected,
// "Always" connects and is remembered.
//
// With TARVIK_FTPS_DIALOG_SHOT set, one more case opens the real dialog and
// waits for somebody (a screenshot script) to close it.

#include "app/formmain.h"
#include "ftp/ftpclient.h"
#include "ftpstestutil.h"
#include "support/gui/scriptedprompts.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class FtpsWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")).remove(QStringLiteral("Settings"));
        ASSERT_TRUE(fake.Start("normal", "self"));
        form = std::make_unique<TFormMain>();
        form->SiteHost = QStringLiteral("localhost");
        form->SiteUser = QStringLiteral("user");
        form->SitePassword = QStringLiteral("secret");
        form->SitePort = QString::fromStdString(fake.PortText());
        form->SitePassive = true;
        form->SiteEncryption = TFtpEncryption::ExplicitRequired;
    }
    void TearDown() override
    {
        if (form && form->IsConnected())
            form->FTPC1->AbortAsync();
        form.reset();
    }

    ftpstest::TFakeFtps fake;
    std::unique_ptr<TFormMain> form;
};

TEST_F(FtpsWindow, CertificateQuestionCancelAlwaysAndRemembered)
{
    testsupport::ScriptedPrompts prompts;
    prompts.AnswerCertificate(TCertificateAnswer::Cancel);
    form->OpenSession();
    EXPECT_FALSE(form->IsConnected());
    ASSERT_EQ(prompts.CertificatePrompts().size(), 1);
    const TCertificatePrompt asked = prompts.CertificatePrompts().front();
    EXPECT_EQ(asked.Host, QStringLiteral("localhost:") + QString::fromStdString(fake.PortText()));
    EXPECT_EQ(asked.Subject, QStringLiteral("CN=localhost"));
    EXPECT_FALSE(asked.Reason.isEmpty());
    EXPECT_EQ(asked.Fingerprint.size(), 95); // 32 hex pairs joined by ':'
    EXPECT_TRUE(asked.StoredFingerprint.isEmpty());
    EXPECT_FALSE(fake.Received("USER"));

    prompts.AnswerCertificate(TCertificateAnswer::TrustAlways);
    form->OpenSession();
    ASSERT_TRUE(form->IsConnected());
    EXPECT_EQ(prompts.CertificatePrompts().size(), 2);
    EXPECT_TRUE(form->FTPC1->DataProtected());
    form->Disconnect1Click();
    testsupport::WaitFor([this] { return !form->IsConnected(); }, 5000);

    form->OpenSession();
    EXPECT_TRUE(form->IsConnected());
    EXPECT_EQ(prompts.CertificatePrompts().size(), 2);
}

TEST_F(FtpsWindow, RealDialogForAScreenshot)
{
    if (std::getenv("TARVIK_FTPS_DIALOG_SHOT") == nullptr)
        GTEST_SKIP() << "set TARVIK_FTPS_DIALOG_SHOT to show the real dialog";
    form->show();
    form->OpenSession();
}

} // namespace
