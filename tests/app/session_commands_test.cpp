// Remote and local file commands against pyftpdlib.
#include "sessionfixture.h"

#include "dialogs/chmod.h"
#include "ftp/ftpclient.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

using namespace sessiontest;

namespace {

class CommandTest : public SessionTest {
protected:
    int Sent(const QString& verb) const
    {
        int count = 0;
        for (const QString& line : LogText(*form).split(QLatin1Char('\n')))
            count += line.startsWith(QStringLiteral("> ") + verb) ? 1 : 0;
        return count;
    }

    // Answers the next permission dialog with the boxes given (0 to 8).
    static void AnswerChmod(std::initializer_list<int> boxes)
    {
        const std::vector<int> checked(boxes);
        QTimer::singleShot(0, [checked] {
            auto* dialog = qobject_cast<TFormMod*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            for (int box = 0; box < 9; ++box)
                dialog->Box(box)->setChecked(false);
            for (const int box : checked)
                dialog->Box(box)->setChecked(true);
            dialog->Button1Click();
        });
    }
};

TEST_F(CommandTest, DeleteThreeRemoteFilesWithYesToAllListsOnce)
{
    StartServer();
    for (const char* name : {"d1", "d2", "d3", "keep"})
        WriteFile(Remote(QString::fromLatin1(name)), "x");
    QuickConnect();
    Select(form->RemoteFiles, {QStringLiteral("d1"), QStringLiteral("d2"), QStringLiteral("d3")});
    const int listsBefore = Sent(QStringLiteral("LIST"));
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    form->RemoteFile1Click();
    EXPECT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records().value(0).text,
              QStringLiteral("Are you sure you want to delete the selected file(files)?"));
    EXPECT_EQ(Sent(QStringLiteral("DELE")), 3);
    EXPECT_EQ(Sent(QStringLiteral("LIST")) - listsBefore, 1) << LogText(*form).toStdString();
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("keep")});
    EXPECT_FALSE(QFile::exists(Remote(QStringLiteral("d2"))));
}

TEST_F(CommandTest, RenameCreateChangeAndRemoveRemoteEntries)
{
    StartServer();
    WriteFile(Remote(QStringLiteral("old.txt")), "x");
    ASSERT_TRUE(QDir().mkdir(Remote(QStringLiteral("dir1"))));
    QuickConnect();

    Select(form->RemoteFiles, {QStringLiteral("old.txt")});
    prompts.AnswerInput(QStringLiteral("old.txt"));
    form->RemoteFile2Click();
    EXPECT_EQ(prompts.Records().value(0).caption, QStringLiteral("Rename File"));
    EXPECT_EQ(prompts.Records().value(0).text, QStringLiteral("New name for the file \"old.txt\":"));
    EXPECT_EQ(Sent(QStringLiteral("RNFR")), 0);

    prompts.AnswerInput(QStringLiteral("new.txt"));
    form->RemoteFile2Click();
    EXPECT_EQ(Sent(QStringLiteral("RNFR")), 1);
    EXPECT_TRUE(QFile::exists(Remote(QStringLiteral("new.txt"))));
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("new.txt")});

    prompts.AnswerInput(QStringLiteral("made"));
    form->Remote1Click();
    EXPECT_TRUE(QFileInfo(Remote(QStringLiteral("made"))).isDir());
    EXPECT_TRUE(Captions(form->RemoteDirs).contains(QStringLiteral("made")));

    Select(form->RemoteDirs, {QStringLiteral("dir1")});
    prompts.AnswerInput(QStringLiteral("dir2"));
    form->RemoteDirectory2Click();
    EXPECT_TRUE(QFileInfo(Remote(QStringLiteral("dir2"))).isDir());

    form->RemoteDirs->ClearSelection();
    prompts.AnswerInput(QStringLiteral("/made"));
    form->ChangeDirectory1Click();
    EXPECT_EQ(prompts.Records().last().text, QStringLiteral("Directory to change to:"));
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/made"));
    form->UpDirectory1Click();

    Select(form->RemoteDirs, {QStringLiteral("made"), QStringLiteral("dir2")});
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->RemoteDirectory1Click();
    // Every selected directory goes, although each removal lists anew.
    EXPECT_EQ(Sent(QStringLiteral("RMD")), 2);
    EXPECT_EQ(Captions(form->RemoteDirs).size(), 0);
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(CommandTest, ChmodOfAFileAndADirectory)
{
    StartServer();
    WriteFile(Remote(QStringLiteral("script.pl")), "#!");
    ASSERT_TRUE(QDir().mkdir(Remote(QStringLiteral("pub"))));
    QuickConnect();
    Select(form->RemoteFiles, {QStringLiteral("script.pl")});
    AnswerChmod({0, 1, 2, 3, 5}); // rwx r-x ---
    form->CHMODFile1Click();
    EXPECT_EQ(Sent(QStringLiteral("SITE chmod 750 script.pl")), 1) << LogText(*form).toStdString();
    ASSERT_EQ(form->RemoteFiles->Items()->Count(), 1);
    EXPECT_EQ(form->RemoteFiles->Items()->Item(0).SubItems.value(2), QStringLiteral("-rwxr-x--- "));

    Select(form->RemoteDirs, {QStringLiteral("pub")});
    AnswerChmod({0, 1, 2, 3, 5, 6, 8});
    form->CHMODDirectory1Click();
    EXPECT_EQ(Sent(QStringLiteral("SITE chmod 755 pub")), 1);
    EXPECT_EQ(QFileInfo(Remote(QStringLiteral("pub"))).permissions() & 0x0FFF,
              QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup |
                  QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

TEST_F(CommandTest, SendCommandNoop)
{
    StartServer();
    QuickConnect();
    const int listsBefore = Sent(QStringLiteral("LIST"));
    prompts.AnswerInput(QStringLiteral("NOOP"));
    form->SendCommand1Click();
    EXPECT_EQ(Sent(QStringLiteral("NOOP")), 1);
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("< 200"))) << LogText(*form).toStdString();
    EXPECT_EQ(Sent(QStringLiteral("LIST")), listsBefore);
}

TEST_F(CommandTest, LocalDeleteRenameCreateAndFolderRename)
{
    for (const char* name : {"l1.txt", "l2.txt", "l3.txt"})
        WriteFile(local.filePath(QString::fromLatin1(name)), "data");
    form->SetLocalFiles();
    Select(form->List1, {QStringLiteral("l1.txt"), QStringLiteral("l2.txt")});
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    form->LocalFile1Click();
    EXPECT_EQ(prompts.Records().value(0).text, QStringLiteral("Are you sure you want to delete the file \"l1.txt\" ?"));
    EXPECT_EQ(Captions(form->List1), QStringList{QStringLiteral("l3.txt")});

    Select(form->List1, {QStringLiteral("l3.txt")});
    prompts.AnswerInput(QStringLiteral("renamed.txt"));
    form->LocalFile2Click();
    EXPECT_EQ(Captions(form->List1), QStringList{QStringLiteral("renamed.txt")});

    const QString created = local.filePath(QStringLiteral("newfolder"));
    prompts.AnswerFolder(created);
    form->Local1Click();
    EXPECT_TRUE(QFileInfo(created).isDir());

    // A bare name renames the folder where it stands.
    ASSERT_TRUE(form->SelectFolder(created));
    prompts.AnswerInput(QStringLiteral("renamedfolder"));
    form->LocalDirectory2Click();
    EXPECT_FALSE(QFileInfo::exists(created));
    EXPECT_TRUE(QFileInfo(local.filePath(QStringLiteral("renamedfolder"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("renamedfolder"))));

    // A typed absolute path moves it there.
    QTemporaryDir elsewhere;
    const QString moved = elsewhere.filePath(QStringLiteral("moved"));
    ASSERT_TRUE(form->SelectFolder(local.filePath(QStringLiteral("renamedfolder"))));
    prompts.AnswerInput(moved);
    form->LocalDirectory2Click();
    EXPECT_TRUE(QFileInfo(moved).isDir());

    ASSERT_TRUE(form->SelectFolder(moved));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->LocalDirectory1Click();
    EXPECT_FALSE(QFileInfo::exists(moved));
    EXPECT_EQ(prompts.Unexpected(), 0);

    ASSERT_TRUE(form->SelectFolder(local.path()));
    Select(form->List1, {QStringLiteral("renamed.txt")});
    form->ViewLocalFile1Click();
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened.front(), QUrl::fromLocalFile(local.filePath(QStringLiteral("renamed.txt"))));
}

} // namespace
