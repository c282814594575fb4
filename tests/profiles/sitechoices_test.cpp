// The "Encryption" and "Server encoding" keys of Accounts.dat, and the host
// and port fields' rules that go with them.
#include "profiles/registryset.h"
#include "profiles/sitechoices.h"

#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kOldFile = "; written by an older version\r\n"
                            "[Old]\r\nProxy=0\r\nProxyName=\r\nHostName=ftp.old\r\nUserName=ann\r\n"
                            "PassWord=pw\r\nPort=2121\r\nAnonymous=0\r\nPassive=0\r\nColour=blue\r\n"
                            "[Other]\r\nHostName=other\r\nFuture=kept\r\n";

TEST(ProfilesSiteChoices, AnOlderFileReadsAsClearTextAutoAndKeepsEveryLineWhenSaved)
{
    TTempFolder folder;
    folder.Write(kOldFile);
    const TRegistrySet store(folder.Folder());

    const TSiteChoices none = store.LoadSiteChoices("Old");
    EXPECT_EQ(none.Encryption, TFtpEncryption::None);
    EXPECT_EQ(none.Encoding, TFtpServerEncoding::Auto);
    TSiteFields fields;
    fields.SiteEncryption = TFtpEncryption::Implicit;
    fields.SiteEncoding = TFtpServerEncoding::Latin1;
    store.LoadQuickConnect("Old", fields);
    EXPECT_EQ(fields.SiteEncryption, TFtpEncryption::None);
    EXPECT_EQ(fields.SiteEncoding, TFtpServerEncoding::Auto);
    EXPECT_EQ(fields.SitePort, "2121");
    EXPECT_EQ(folder.Read(), kOldFile) << "reading never writes";

    // Saving with the older call leaves the new keys out; with the choices
    // they are appended and nothing else of the section or file is lost.
    store.SaveProfile("Old", false, "", "ftp.old", "ann", "pw", "2121", false, false, false);
    EXPECT_FALSE(folder.Read().contains("Encryption"));
    store.SaveProfile("Old", false, "", "ftp.old", "ann", "pw", "990", false, false, false,
                      {TFtpEncryption::Implicit, TFtpServerEncoding::Utf8});
    const QByteArray saved = folder.Read();
    EXPECT_TRUE(saved.startsWith("; written by an older version\r\n[Old]\r\n"));
    EXPECT_TRUE(saved.contains("Colour=blue\r\nPassiveMode=0\r\nEncryption=implicit\r\nServer encoding=UTF-8\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.endsWith("[Other]\r\nHostName=other\r\nFuture=kept\r\n"));
}

TEST(ProfilesSiteChoices, EveryValueRoundTripsAndTheOlderSaveKeepsThem)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    for (const TFtpEncryption encryption : {TFtpEncryption::None, TFtpEncryption::ExplicitRequired,
                                            TFtpEncryption::ExplicitIfOffered, TFtpEncryption::Implicit}) {
        for (const TFtpServerEncoding encoding :
             {TFtpServerEncoding::Auto, TFtpServerEncoding::Utf8, TFtpServerEncoding::Latin1}) {
            store.SaveProfile("Site", false, "", "::1", "u", "p", "21", false, false, true, {encryption, encoding});
            // A save through the older call (as another tool might make)
            // does not reset the choices.
            store.SaveProfile("Site", false, "", "::1", "u", "p", "21", false, false, true);
            TSiteFields fields;
            store.LoadQuickConnect("Site", fields);
            EXPECT_EQ(fields.SiteEncryption, encryption) << EncryptionText(encryption);
            EXPECT_EQ(fields.SiteEncoding, encoding) << ServerEncodingText(encoding);
            EXPECT_EQ(fields.SiteHost, "::1");
            EXPECT_EQ(store.LoadSiteChoices("Site").Encryption, encryption);
        }
    }
    EXPECT_EQ(store.LoadSiteChoices("Missing").Encryption, TFtpEncryption::None);
}

TEST(ProfilesSiteChoices, HandWrittenValues)
{
    TTempFolder folder;
    folder.Write("[A]\r\nEncryption = IMPLICIT \r\nserver ENCODING=latin1\r\n"
                 "[B]\r\nEncryption=2\r\nServer encoding=utf8\r\n"
                 "[C]\r\nEncryption=\r\nServer encoding=EBCDIC\r\n"
                 "[D]\r\nEncryption=tls-1.4-only\r\n");
    const TRegistrySet store(folder.Folder());
    EXPECT_EQ(store.LoadSiteChoices("A").Encryption, TFtpEncryption::Implicit);
    EXPECT_EQ(store.LoadSiteChoices("A").Encoding, TFtpServerEncoding::Latin1);
    EXPECT_EQ(store.LoadSiteChoices("B").Encryption, TFtpEncryption::ExplicitIfOffered);
    EXPECT_EQ(store.LoadSiteChoices("B").Encoding, TFtpServerEncoding::Utf8);
    EXPECT_EQ(store.LoadSiteChoices("C").Encryption, TFtpEncryption::None);
    EXPECT_EQ(store.LoadSiteChoices("C").Encoding, TFtpServerEncoding::Auto);
    // A value this program does not know never means clear text.
    EXPECT_EQ(store.LoadSiteChoices("D").Encryption, TFtpEncryption::ExplicitRequired);
}

TEST(ProfilesSiteChoices, PortSuggestionAndHostFields)
{
    EXPECT_EQ(SuggestedPort(TFtpEncryption::Implicit, "21"), "990");
    EXPECT_EQ(SuggestedPort(TFtpEncryption::Implicit, ""), "990");
    EXPECT_EQ(SuggestedPort(TFtpEncryption::Implicit, "2121"), "2121");
    EXPECT_EQ(SuggestedPort(TFtpEncryption::ExplicitRequired, "990"), "21");
    EXPECT_EQ(SuggestedPort(TFtpEncryption::None, "21"), "21");
    EXPECT_EQ(SuggestedPort(TFtpEncryption::ExplicitIfOffered, "4990"), "4990");

    std::string port = "21";
    EXPECT_EQ(HostFieldText(" [::1] ", port), "::1");
    EXPECT_EQ(port, "21");
    EXPECT_EQ(HostFieldText("::1", port), "::1");
    EXPECT_EQ(HostFieldText("[2001:db8::7]:2121", port), "2001:db8::7");
    EXPECT_EQ(port, "2121");
    port = "21";
    EXPECT_EQ(HostFieldText("fe80::1%lo", port), "fe80::1%lo");
    EXPECT_EQ(HostFieldText(" ftp.example.com ", port), "ftp.example.com");
    EXPECT_EQ(HostFieldText("127.0.0.1", port), "127.0.0.1");
    // Not an address in brackets, or no port after them: left as typed.
    EXPECT_EQ(HostFieldText("[host]:21", port), "[host]:21");
    EXPECT_EQ(HostFieldText("[::1]:", port), "[::1]:");
    EXPECT_EQ(HostFieldText("[::1]:99999x", port), "[::1]:99999x");
    EXPECT_EQ(port, "21");
}

} // namespace
