#include <gtest/gtest.h>

#include "core/find_filter.h"

using namespace auralist;

namespace {

std::vector<std::string> namesOf(const SoundList &list)
{
    std::vector<std::string> names;
    for (const SoundRecord &r : *list)
        names.emplace_back(r.name());
    return names;
}

} // namespace

// A query that only adds to the last one searches the last hits alone, as
// long as the list is the one they were found in: a sound added to the
// list unseen by the version is not found by the narrowed find, and is
// once the version says the list changed.
TEST(FindFilter, NarrowsOnTheLastHitsOfTheSameListOnly)
{
    auto items = makeSoundList();
    for (const char *path : {"/s/Kick dry.wav", "/s/kick room.wav", "/s/snare.wav"})
        items->append(path);
    FindFilter find;
    FindFilter::Found found = find.run("ki", items, 1, false);
    ASSERT_TRUE(found.matches);
    EXPECT_EQ(namesOf(found.matches), (std::vector<std::string>{"Kick dry.wav", "kick room.wav"}));
    EXPECT_FALSE(found.live);
    find.settled(1);

    items->append("/s/kick new.wav");
    EXPECT_EQ(namesOf(find.run("kic", items, 1, false).matches),
              (std::vector<std::string>{"Kick dry.wav", "kick room.wav"}));
    find.settled(1);
    EXPECT_EQ(namesOf(find.run("kick", items, 2, false).matches),
              (std::vector<std::string>{"Kick dry.wav", "kick room.wav", "kick new.wav"}));
    find.settled(2);

    // Forgotten, the next find searches everything again.
    items->append("/s/kick late.wav");
    find.forget();
    EXPECT_EQ(find.run("kick", items, 2, false).matches->size(), 4U);
}

// A blank query keeps the whole list; a field still being typed is hinted
// at; a query on what is learned later is live, as is every query that
// searches all text.
TEST(FindFilter, BlankHintsAndLiveQueries)
{
    auto items = makeSoundList();
    items->append("/s/a.wav");
    FindFilter find;
    EXPECT_TRUE(FindFilter::blank("   "));
    EXPECT_FALSE(FindFilter::blank("kick"));
    FindFilter::Found blank = find.run(" ", items, 1, false);
    EXPECT_FALSE(blank.matches);
    EXPECT_FALSE(blank.live);

    FindFilter::Found typing = find.run("bpm:", items, 1, false);
    EXPECT_FALSE(typing.matches);
    EXPECT_NE(typing.hint.find("bpm: needs"), std::string::npos);

    EXPECT_TRUE(find.run("len:<1", items, 1, false).live);
    EXPECT_FALSE(find.run("kick", items, 1, false).live);
    EXPECT_TRUE(find.run("kick", items, 1, true).live);
}
