// Natural name order, the listing's dates and the command table.
#include "app/formmain_commands.h"
#include "app/listformat.h"
#include "app/listmodel.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ListFormat, NamesSortNaturallyIgnoringCase)
{
    EXPECT_LT(NaturalCompare(QStringLiteral("file_9"), QStringLiteral("file_10")), 0);
    EXPECT_LT(NaturalCompare(QStringLiteral("file_1997"), QStringLiteral("file_2510")), 0);
    EXPECT_LT(NaturalCompare(QStringLiteral("File_20"), QStringLiteral("file_1997")), 0);
    EXPECT_LT(NaturalCompare(QStringLiteral("a"), QStringLiteral("B")), 0);
    EXPECT_LT(NaturalCompare(QStringLiteral("x2"), QStringLiteral("x02b")), 0);
    EXPECT_GT(NaturalCompare(QStringLiteral("abc"), QStringLiteral("ab")), 0);
    // Equal but for case or zeros: still a strict order, never "equal".
    EXPECT_NE(NaturalCompare(QStringLiteral("A1"), QStringLiteral("a1")), 0);
    EXPECT_NE(NaturalCompare(QStringLiteral("x01"), QStringLiteral("x1")), 0);
    EXPECT_EQ(NaturalCompare(QStringLiteral("same"), QStringLiteral("same")), 0);
    // Runs of digits longer than any integer.
    EXPECT_LT(NaturalCompare(QStringLiteral("v99999999999999999999"), QStringLiteral("v100000000000000000000")), 0);
}

TEST(ListFormat, ModelSortsFoldersFirstAndEachColumnByItsKind)
{
    TListModel model;
    model.SetColumns({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date")});
    model.SetColumnKinds({TColumnKind::Name, TColumnKind::Size, TColumnKind::Date});
    TListItem a{QStringLiteral("b10"), 0, {QStringLiteral("5"), QString()}};
    a.Size = 5;
    a.Time = 300;
    TListItem b{QStringLiteral("b9"), 0, {QStringLiteral("70"), QString()}};
    b.Size = 70;
    b.Time = 100;
    TListItem folder{QStringLiteral("zz"), 2, {}};
    folder.IsFolder = true;
    model.BeginUpdate();
    model.Add(a);
    model.Add(b, QStringLiteral("b9 real"));
    model.Add(folder);
    model.EndUpdate();
    const auto order = [&model] {
        QStringList names;
        for (int row = 0; row < model.Count(); ++row)
            names << model.Item(row).Caption;
        return names;
    };
    EXPECT_EQ(order(), (QStringList{"b10", "b9", "zz"})); // as added until sorted
    model.sort(0, Qt::AscendingOrder);
    EXPECT_EQ(order(), (QStringList{"zz", "b9", "b10"}));
    EXPECT_EQ(model.Name(1), QStringLiteral("b9 real")); // the name travels with its item
    model.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(order(), (QStringList{"zz", "b10", "b9"}));
    model.sort(1, Qt::AscendingOrder);
    EXPECT_EQ(order(), (QStringList{"zz", "b10", "b9"}));
    model.sort(2, Qt::AscendingOrder);
    EXPECT_EQ(order(), (QStringList{"zz", "b9", "b10"}));
    // A refill keeps the chosen order.
    model.BeginUpdate();
    model.Clear();
    model.Add(a);
    model.Add(b);
    model.EndUpdate();
    EXPECT_EQ(order(), (QStringList{"b9", "b10"}));
    // Shown: sizes with the locale's separators, the raw text otherwise.
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), SizeText(70));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::ToolTipRole).toString(), QStringLiteral("70"));
}

TEST(ListFormat, ListingDatesWithAndWithoutYear)
{
    const QDateTime now(QDate(2026, 3, 10), QTime(12, 0));
    qint64 seconds = 0;
    ASSERT_TRUE(ListingTime(QStringLiteral("Mar  3  2023  "), now.toSecsSinceEpoch(), seconds));
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(seconds), QDateTime(QDate(2023, 3, 3), QTime(0, 0)));
    ASSERT_TRUE(ListingTime(QStringLiteral("Jan  12  10:30  "), now.toSecsSinceEpoch(), seconds));
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(seconds), QDateTime(QDate(2026, 1, 12), QTime(10, 30)));
    // Without a year a date ahead of today is last year's.
    ASSERT_TRUE(ListingTime(QStringLiteral("Dec 24 18:00"), now.toSecsSinceEpoch(), seconds));
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(seconds), QDateTime(QDate(2025, 12, 24), QTime(18, 0)));
    for (const char* bad : {"", "Foo 1 2020", "Jan 32 2020", "Feb 30 10:00", "Jan 1 25:00", "Jan 1", "Jan x 2020"})
        EXPECT_FALSE(ListingTime(QString::fromLatin1(bad), now.toSecsSinceEpoch(), seconds)) << bad;
    EXPECT_EQ(DateText(QDateTime(QDate(2024, 5, 6), QTime(0, 0)).toSecsSinceEpoch()),
              QLocale::system().toString(QDate(2024, 5, 6), QLocale::ShortFormat));
}

TEST(CommandTable, EveryActionHasOneRowAndTheRulesFollowTheSelections)
{
    std::set<std::string> names;
    for (const TCommandRow& row : CommandTable())
        for (const TCommandAction& action : row.Actions)
            EXPECT_TRUE(names.insert(action.Name).second) << action.Name << " listed twice";
    EXPECT_EQ(names.size(), 87u);

    const TSelectionState offline{false, 2, 0, 0};
    const TSelectionState online{true, 1, 2, 1};
    EXPECT_TRUE(RuleHolds(TEnableRule::Disconnected, offline));
    EXPECT_FALSE(RuleHolds(TEnableRule::ConnectedLocalAny, offline));
    EXPECT_TRUE(RuleHolds(TEnableRule::LocalAny, offline));
    EXPECT_FALSE(RuleHolds(TEnableRule::LocalOne, offline));
    EXPECT_TRUE(RuleHolds(TEnableRule::ConnectedRemoteFilesAny, online));
    EXPECT_FALSE(RuleHolds(TEnableRule::ConnectedRemoteFilesOne, online));
    EXPECT_TRUE(RuleHolds(TEnableRule::ConnectedRemoteDirsOne, online));
    EXPECT_FALSE(RuleHolds(TEnableRule::Disconnected, online));
    // Download takes remote directories alone as well (they are queued).
    EXPECT_TRUE(RuleHolds(TEnableRule::ConnectedRemoteAny, TSelectionState{true, 0, 0, 1}));
    EXPECT_FALSE(RuleHolds(TEnableRule::ConnectedRemoteAny, TSelectionState{true, 3, 0, 0}));
    EXPECT_FALSE(RuleHolds(TEnableRule::ConnectedRemoteAny, TSelectionState{false, 0, 1, 1}));
}
