// THttpCli against Python's http.server: documents of several sizes.

#include "http/httpprot.h"
#include "httprecorder.h"
#include "httptestpeer.h"
#include "support/testfiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using httptest::TRecorder;

std::string Document(std::size_t size)
{
    std::string s(size, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

class HttpRealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new testsupport::TempDir;
        for (const std::size_t size : Sizes)
            testsupport::WriteFile(dir_->File("doc" + std::to_string(size) + ".bin"), Document(size));
        testsupport::WriteFile(dir_->File("index.html"), "<html><body>root</body></html>\n");
        server_ = new httptest::TPeerProcess;
        ASSERT_TRUE(server_->StartStatic(dir_->Path()));
    }
    static void TearDownTestSuite()
    {
        delete server_;
        delete dir_;
        server_ = nullptr;
        dir_ = nullptr;
    }

    static constexpr std::size_t Sizes[] = {0, 1, 8191, 8192, 8193, 300000};
    static testsupport::TempDir* dir_;
    static httptest::TPeerProcess* server_;
};

testsupport::TempDir* HttpRealServer::dir_ = nullptr;
httptest::TPeerProcess* HttpRealServer::server_ = nullptr;

TEST_F(HttpRealServer, GetDeliversDocumentsOfEverySize)
{
    for (const std::size_t size : Sizes) {
        SCOPED_TRACE(size);
        THttpCli cli;
        TRecorder rec;
        std::ostringstream stream;
        cli.RcvdStream = &stream;
        cli.URL = server_->BaseUrl() + "/doc" + std::to_string(size) + ".bin";
        rec.Attach(cli);
        cli.GetASync();
        ASSERT_TRUE(rec.WaitDone());
        EXPECT_EQ(rec.doneError, 0);
        EXPECT_EQ(cli.StatusCode(), 200);
        EXPECT_EQ(cli.ContentLength(), static_cast<std::int64_t>(size));
        EXPECT_EQ(cli.RcvdCount(), static_cast<std::int64_t>(size));
        EXPECT_TRUE(stream.str() == Document(size)) << "document differs";
        EXPECT_TRUE(rec.body == Document(size));
        EXPECT_EQ(cli.DocName(), "doc" + std::to_string(size) + ".bin");
        EXPECT_EQ(rec.Count("DocBegin"), size > 0 ? 1 : 0);
        EXPECT_EQ(rec.Count("DocEnd"), size > 0 ? 1 : 0);
    }
}

TEST_F(HttpRealServer, SynchronousGetOfRootAndMissingPage)
{
    THttpCli cli;
    std::ostringstream stream;
    cli.RcvdStream = &stream;
    cli.URL = server_->BaseUrl();
    cli.Get();
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.DocName(), "document.htm");
    EXPECT_EQ(cli.ContentType(), "text/html");
    EXPECT_EQ(stream.str(), "<html><body>root</body></html>\n");

    cli.URL = server_->BaseUrl() + "/nowhere.html";
    try {
        cli.Get();
        FAIL() << "missing page did not raise";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.Message(), "File not found");
    }
}

TEST_F(HttpRealServer, HeadFiresNoDocumentEvents)
{
    THttpCli cli;
    TRecorder rec;
    cli.URL = server_->BaseUrl() + "/doc300000.bin";
    rec.Attach(cli);
    cli.HeadASync();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.doneType, httpHEAD);
    EXPECT_EQ(rec.doneError, 0);
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.ContentLength(), 300000);
    EXPECT_EQ(cli.RcvdCount(), 0);
    EXPECT_EQ(rec.Count("DocBegin"), 0);
    EXPECT_EQ(rec.Count("DocEnd"), 0);
    EXPECT_EQ(rec.commands.front(), "HEAD /doc300000.bin HTTP/1.0");

    // The synchronous form returns with the same answer.
    cli.URL = server_->BaseUrl() + "/doc8193.bin";
    cli.Head();
    EXPECT_EQ(cli.State(), httpReady);
    EXPECT_EQ(cli.ContentLength(), 8193);
    EXPECT_EQ(cli.RcvdCount(), 0);
}

} // namespace
