#include <gtest/gtest.h>

#include <QMimeData>

#include "core/diagnostics.h"
#include "core/list_sort.h"
#include "core/numeric_compare.h"
#include "core/table_controller.h"
#include "core/uri_list.h"
#include "fakes/fakes.h"
#include "test_support.h"

using namespace auralist;

namespace {

SoundList listOf(const std::vector<std::string> &names)
{
    SoundList list = makeSoundList();
    for (const auto &n : names)
        list->append("/s/" + n);
    return list;
}

std::vector<std::string> namesOf(const SoundList &list)
{
    std::vector<std::string> out;
    for (const auto &r : *list)
        out.emplace_back(r.name());
    return out;
}

} // namespace

TEST(TableController, SortsWithDigitRunsByValueInTheOwnersList)
{
    EXPECT_LT(compareNumeric("kick 2", "kick 10"), 0);
    EXPECT_EQ(compareNumeric("a007", "a7"), 0);
    EXPECT_LT(compareNumeric("Track", "track"), 0);
    EXPECT_GT(compareNumeric("b", "a999"), 0);
    EXPECT_LT(compareNumeric("", "a"), 0);

    auralist::testing::CapturedOutput out;
    Diagnostics d(out.file());
    TableController tc(d);
    fakes::FakeTableView view;
    tc.setTableView(&view);
    SoundList list = listOf({"Track 2", "track 1", "Track 10"});
    tc.setItems(list);
    view.column = -1;
    tc.tableViewDidClickTableColumn(); // no column selected: nothing
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"Track 2", "track 1", "Track 10"}));
    // In the listing's order (case ignored, digit runs by value), then
    // turned round by a second click, the header showing which way.
    view.column = 0;
    tc.tableViewDidClickTableColumn();
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"track 1", "Track 2", "Track 10"}));
    EXPECT_EQ(view.sortColumn, 0);
    EXPECT_TRUE(view.sortAscending);
    tc.tableViewDidClickTableColumn();
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"Track 10", "Track 2", "track 1"}));
    EXPECT_FALSE(view.sortAscending);
    EXPECT_EQ(tc.sortKey(), "name");

    // A column some records lack sorts them as empty values, first.
    (*list)[2].setValue("rating", "5");
    tc.sortBy("rating");
    EXPECT_EQ((*list)[2].name(), "track 1");
}

TEST(TableController, SelectionLimitDelegateDragOutAndTooltips)
{
    auralist::testing::CapturedOutput out;
    Diagnostics d(out.file());
    TableController tc(d);
    fakes::FakeTableView view;
    tc.setTableView(&view);
    std::vector<std::string> names;
    for (int i = 0; i < 10002; ++i)
        names.push_back("s" + std::to_string(i) + ".wav");
    tc.setItems(listOf(names));
    EXPECT_FALSE(tc.selectedItem());
    EXPECT_EQ(tc.selectedItemIndex(), -1);
    view.rows = {1, 10001};
    view.current = 10001;
    const auto selected = tc.selectedItems();
    ASSERT_EQ(selected.size(), 1U);
    EXPECT_EQ(selected[0].name(), "s1.wav");
    EXPECT_EQ(tc.selectedItem().name(), "s10001.wav");
    EXPECT_EQ(out.take(), ">>>>>>>>>>>>>TableConroller selectedItems row:10001!!!\n");

    // Dragging rows writes one type, file URLs in the order given; the
    // bytes of a name that is not UTF-8 survive the round trip.
    SoundList odd = makeSoundList();
    odd->append(("/tmp/caf\xe9 #1.wav"));
    odd->append(("/tmp/b.wav"));
    tc.setItems(odd);
    std::unique_ptr<QMimeData> mime(tc.writeRows({1, 0}));
    EXPECT_EQ(mime->formats(), QStringList{"text/uri-list"});
    const QByteArray data = mime->data("text/uri-list");
    EXPECT_EQ(data.toStdString(), "file:///tmp/b.wav\r\nfile:///tmp/caf%E9%20%231.wav\r\n");
    EXPECT_EQ(pathsFromUriList(data.toStdString()), (std::vector<std::string>{"/tmp/b.wav", "/tmp/caf\xe9 #1.wav"}));
    EXPECT_TRUE(pathsFromUriList("http://example.org/a.wav\r\n# comment\r\nfile://otherhost/x\r\n").empty());
    EXPECT_EQ(pathsFromUriList("file://localhost/a%20b.wav\n"), (std::vector<std::string>{"/a b.wav"}));

    // A name that looks like markup is shown as it is in its tooltip.
    tc.setItems(listOf({"<font color=red size=7>RED.wav", "plain.wav"}));
    const QString tip = tc.index(0, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QStringLiteral("&lt;font color=red size=7&gt;RED.wav"))) << tip.toStdString();
    EXPECT_FALSE(tip.contains(QStringLiteral("<font")));
    EXPECT_EQ(tc.index(1, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("plain.wav"));
}

// A rename keeps the bytes the user did not change: a name that is not
// UTF-8 is not rewritten with replacement characters.
TEST(TableController, AnEditedNameKeepsTheBytesLeftAsTheyWere)
{
    const std::string latin("caf\xe9 loop.wav");
    const QString shown = displayText(latin);
    EXPECT_EQ(editedBytes(latin, shown), latin);
    QString longer = shown;
    longer.insert(shown.size() - 4, QStringLiteral(" 2"));
    EXPECT_EQ(editedBytes(latin, longer), "caf\xe9 loop 2.wav");
    QString renamed = shown;
    renamed.replace(0, 3, QStringLiteral("Th\u00e9"));
    EXPECT_EQ(editedBytes(latin, renamed), "Th\xc3\xa9\xe9 loop.wav");
    EXPECT_EQ(editedBytes("kick.wav", QStringLiteral("snare.wav")), "snare.wav");
}

// An order found for some records, put on rows that changed meanwhile:
// what it knows comes first in its order, a record listed twice stays
// twice, rows added since follow as they were, rows gone stay gone.
TEST(TableController, AnOrderFoundEarlierKeepsTheRowsAddedAndLosesThoseGone)
{
    std::vector<std::uint32_t> rows = {4, 9, 2, 7, 2, 12, 11};
    takeOrder(rows, {7, 5, 2, 4, 9});
    EXPECT_EQ(rows, (std::vector<std::uint32_t>{7, 2, 2, 4, 9, 12, 11}));
    std::vector<std::uint32_t> none;
    takeOrder(none, {1, 2});
    EXPECT_TRUE(none.empty());
}
