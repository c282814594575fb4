// The ping and DNS lookup windows with IPv6: ::1 pinged, AAAA answers shown.
#include "toolwindowstest.h"

#include "dialogs/tools/dnslookup.h"
#include "dialogs/tools/pingunit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool CanPingIPv6Loopback()
{
    int fd = ::socket(AF_INET6, SOCK_DGRAM, IPPROTO_ICMPV6);
    if (fd < 0)
        fd = ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (fd < 0)
        return false;
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) == 0;
    ::close(fd);
    return bound;
}

using ToolsIPv6Windows = toolwintest::EchoWindowTest;

TEST_F(ToolsIPv6Windows, PingingTheIPv6LoopbackReportsThreeRepliesAndTheAverage)
{
    if (!CanPingIPv6Loopback())
        GTEST_SKIP() << "no ICMPv6 to ::1 here";
    TFormPing form;
    form.show();
    QTest::keyClicks(form.EditAdd, QStringLiteral("::1"));
    QTest::mouseClick(form.ButPing, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Running(); }, 20000));
    const QStringList lines = toolwintest::Lines(*form.Memo1);
    ASSERT_EQ(lines.size(), 16) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Host: ::1 "));
    for (int packet = 1; packet <= 3; ++packet) {
        const int at = 2 + (packet - 1) * 4;
        EXPECT_EQ(lines[at], QStringLiteral("Sending packet %1 size: 64 bytes").arg(packet));
        EXPECT_EQ(lines[at + 1], QStringLiteral("Returned Data: 64 bytes"));
        EXPECT_TRUE(lines[at + 2].startsWith(QStringLiteral("Return Time: "))) << lines[at + 2].toStdString();
    }
    EXPECT_TRUE(lines[14].startsWith(QStringLiteral("Average return time: "))) << lines[14].toStdString();
    toolwintest::Shoot(form, "ping-ipv6");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsIPv6Windows, TheLookupWindowShowsIPv6Addresses)
{
    TFormDns form;
    form.show();
    ASSERT_TRUE(form.Edit3);
    EXPECT_TRUE(form.Edit3->isReadOnly());
    form.Edit1->setText(QStringLiteral("[::1]"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("::1"));
    EXPECT_EQ(form.Edit3->text(), QStringLiteral("::1"));

    // localhost: its IPv4 address above, its IPv6 ones (as the system's
    // resolver has them) below.
    QString expected;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo("localhost", nullptr, &hints, &list) == 0) {
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(list->ai_addr)->sin6_addr, text, sizeof text);
        expected = QString::fromLatin1(text);
        ::freeaddrinfo(list);
    }
    form.Edit1->setText(QStringLiteral("localhost"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_TRUE(form.Edit3->text().isEmpty()) << "cleared while looking up";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.LookingUp(); }, 10000));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form.Edit3->text().split(QStringLiteral(", ")).first(), expected);
    toolwintest::Shoot(form, "dns-ipv6");

    form.Edit1->setText(QStringLiteral("nonexistent.invalid"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.LookingUp(); }, 20000));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("Host not found"));
    EXPECT_TRUE(form.Edit3->text().isEmpty());
    EXPECT_TRUE(errors.isEmpty());
}

} // namespace
