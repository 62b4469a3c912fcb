#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/header_facts.h"
#include "core/query.h"
#include "core/records.h"
#include "core/sound_traits.h"

using namespace auralist;

namespace {

// A small library: each sound with its header facts and (where given) what
// the analysis learned.
struct Library {
    RecordStore store;
    std::uint32_t add(const std::string &path, double seconds, std::uint32_t rate, std::uint16_t channels,
                      std::uint64_t size, FileFormat format = FileFormat::Wav)
    {
        const std::uint32_t i = store.add(path);
        HeaderFacts f;
        f.state = HeaderFacts::State::Read;
        f.rate = rate;
        f.frames = static_cast<std::int64_t>(seconds * rate);
        f.channels = channels;
        f.size = size;
        f.container = static_cast<std::uint8_t>(format);
        f.encoding = static_cast<std::uint8_t>(SampleEncoding::Pcm16);
        store.setFacts(i, f);
        return i;
    }
    void analysed(std::uint32_t i, bool loop, float bpm, int note, float loudness)
    {
        SoundTraits t;
        t.state = SoundTraits::State::Analysed;
        t.loop = loop;
        t.bpm = bpm;
        t.note = static_cast<std::int8_t>(note);
        t.loudness = loudness;
        store.setTraits(i, t);
    }
    std::vector<std::string> find(const std::string &text) const
    {
        const Query q = parseQuery(text);
        std::vector<std::string> out;
        // One pass, each folder folded once, as the find does it.
        FoldedFolders folders;
        for (std::uint32_t i = 0; i < store.size(); ++i) {
            if (matchesQuery(q, store, i, false, &folders))
                out.emplace_back(store.name(i));
        }
        return out;
    }
};

using Names = std::vector<std::string>;

Library kit()
{
    Library l;
    const auto creak = l.add("/sfx/Doors/Door Wood Creak 01.wav", 2.5, 48000, 2, 900000);
    const auto squeak = l.add("/sfx/Doors/door wood squeak.wav", 1.2, 48000, 1, 120000);
    const auto loop = l.add("/loops/Drums/Funk Loop 120.flac", 8.0, 44100, 2, 2500000, FileFormat::Flac);
    const auto pluck = l.add("/synth/Pluck A3.wav", 0.4, 44100, 2, 70000);
    l.add("/sfx/Wood/wood knock.aif", 0.3, 96000, 1, 60000, FileFormat::Aiff); // not analysed
    l.analysed(creak, false, 0, -1, -24.0F);
    l.analysed(squeak, false, 0, -1, -18.0F);
    l.analysed(loop, true, 120.2F, -1, -12.5F);
    l.analysed(pluck, false, 0, 57, -16.0F); // A3
    l.store.setFavourite(pluck, true);
    l.store.setTags(loop, "Funk, Live Drums");
    return l;
}

} // namespace

TEST(Query, WordsEachOnTheirOwnAllRequiredAndTheRestOfTheLanguage)
{
    const Library l = kit();
    // One word: as the find field always did, any case, anywhere in the name.
    EXPECT_EQ(l.find("CREAK"), (Names{"Door Wood Creak 01.wav"}));
    // Several words no longer need to stand together.
    EXPECT_EQ(l.find("door creak"), (Names{"Door Wood Creak 01.wav"}));
    EXPECT_EQ(l.find("wood door"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav"}));
    EXPECT_EQ(l.find("door -squeak"), (Names{"Door Wood Creak 01.wav"}));
    EXPECT_EQ(l.find("\"wood door\""), Names{});
    EXPECT_EQ(l.find("\"door wood\" -\"wood creak\""), (Names{"door wood squeak.wav"}));
    // An unclosed quote runs to the end; a quoted field is text.
    EXPECT_EQ(l.find("\"door wood s"), (Names{"door wood squeak.wav"}));
    EXPECT_EQ(l.find("\"len:<3s\""), Names{});
    // The example of the issue: words, an exclusion and a length.
    EXPECT_EQ(l.find("door wood creak -squeak len:<3s"), (Names{"Door Wood Creak 01.wav"}));

    EXPECT_EQ(l.find("path:doors"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav"}));
    EXPECT_EQ(l.find("path:wood"), (Names{"wood knock.aif"})); // the folder, not the name
    // A sound moved by an edit is found by its new folder only, its old
    // folders' sounds as before; a name with no folder has none to match.
    Library moved = kit();
    moved.store.setValue(1, "path", "/sfx/Metal/door wood squeak.wav");
    moved.add("Loose.wav", 1, 44100, 1, 100);
    moved.add("/Top.wav", 1, 44100, 1, 100);
    EXPECT_EQ(moved.find("path:doors"), (Names{"Door Wood Creak 01.wav"}));
    EXPECT_EQ(moved.find("path:metal"), (Names{"door wood squeak.wav"}));
    EXPECT_EQ(moved.find("path:loose"), Names{});
    EXPECT_EQ(moved.find("path:/"),
              (Names{"Door Wood Creak 01.wav", "door wood squeak.wav", "Funk Loop 120.flac", "Pluck A3.wav",
                     "wood knock.aif", "Top.wav"}));
    EXPECT_EQ(l.find("name:loop"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("tag:live"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("is:fav"), (Names{"Pluck A3.wav"}));
    EXPECT_EQ(l.find("-is:favourite -path:sfx"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("format:flac"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("format:aif"), (Names{"wood knock.aif"}));
}

TEST(Query, NumbersWithUnitsComparisonsAndRanges)
{
    const Library l = kit();
    EXPECT_EQ(l.find("len:<500ms"), (Names{"Pluck A3.wav", "wood knock.aif"}));
    EXPECT_EQ(l.find("length:>=2.5s"), (Names{"Door Wood Creak 01.wav", "Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("len:1..3"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav"}));
    EXPECT_EQ(l.find("len:0.1m"), (Names{"Funk Loop 120.flac"})); // 6 s ± 3 s
    EXPECT_EQ(l.find("len:8"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("rate:48k"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav"}));
    EXPECT_EQ(l.find("rate:>48000"), (Names{"wood knock.aif"}));
    EXPECT_EQ(l.find("rate:44.1k"), (Names{"Funk Loop 120.flac", "Pluck A3.wav"}));
    EXPECT_EQ(l.find("ch:1"), (Names{"door wood squeak.wav", "wood knock.aif"}));
    EXPECT_EQ(l.find("channels:>1 size:>1MB"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("size:100KB..1MB"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav"}));
    // What the analysis learned.
    EXPECT_EQ(l.find("bpm:120"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("bpm:118..122"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("bpm:<100"), Names{}); // a one-shot has no tempo
    EXPECT_EQ(l.find("type:loop"), (Names{"Funk Loop 120.flac"}));
    EXPECT_EQ(l.find("type:oneshot"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav", "Pluck A3.wav"}));
    EXPECT_EQ(l.find("note:A3"), (Names{"Pluck A3.wav"}));
    EXPECT_EQ(l.find("note:a"), (Names{"Pluck A3.wav"}));
    EXPECT_EQ(l.find("note:G##"), Names{}); // not a note: as text
    EXPECT_EQ(l.find("loud:>-20"), (Names{"door wood squeak.wav", "Funk Loop 120.flac", "Pluck A3.wav"}));
    EXPECT_EQ(l.find("loud:-25..-20"), (Names{"Door Wood Creak 01.wav"}));
    // The sound not analysed matches no analysis term, negated or not.
    EXPECT_EQ(l.find("-type:loop"), (Names{"Door Wood Creak 01.wav", "door wood squeak.wav", "Pluck A3.wav"}));
    EXPECT_TRUE(lacksValueFor(parseQuery("type:loop"), l.store, 4));
    EXPECT_FALSE(lacksValueFor(parseQuery("len:<1"), l.store, 4));
}

TEST(Query, WhatCannotBeReadIsTextWithAHintAndNothingIsLost)
{
    Query q = parseQuery("len:<abc kick");
    ASSERT_EQ(q.terms.size(), 2U);
    EXPECT_EQ(q.terms[0].field, Query::Field::Word);
    EXPECT_EQ(q.terms[0].text, "len:<abc");
    ASSERT_EQ(q.hints.size(), 1U);
    EXPECT_NE(q.hints[0].find("len:<abc"), std::string::npos);
    EXPECT_NE(q.hints[0].find("a length"), std::string::npos);
    // A field with nothing after it yet: no term, a hint.
    q = parseQuery("bpm:");
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.hints.size(), 1U);
    // Not a field: text, no hint (names hold colons).
    q = parseQuery("take:2 -");
    ASSERT_EQ(q.terms.size(), 2U);
    EXPECT_EQ(q.terms[0].text, "take:2");
    EXPECT_EQ(q.terms[1].text, "-");
    EXPECT_TRUE(q.hints.empty());
    // Odd numbers: none crash, none is read as a number it is not.
    for (const char *odd : {"len:..", "len:1..", "len:<", "len:=", "rate:k", "len:1e999", "len:nan", "size:-",
                            "bpm:1.2.3", "loud:--3", "note:", "note:c99", "ch:2x"}) {
        q = parseQuery(odd);
        for (const auto &t : q.terms)
            EXPECT_EQ(t.field, Query::Field::Word) << odd;
    }
    EXPECT_TRUE(parseQuery("").empty());
    EXPECT_TRUE(parseQuery("   \t ").empty());
    EXPECT_TRUE(parseQuery("rate:48k").onlyRequiredWords() == false);
    EXPECT_TRUE(parseQuery("a b").onlyRequiredWords());
}

TEST(Query, DescriptionsTheFilesOwnTempoAndAllText)
{
    Library l = kit();
    FileMetadata m;
    m.description = "Slow creak of an old barn door";
    m.bpm = 92;
    m.rootNote = 48; // C3
    l.store.setMetadata(4, m); // the knock, not analysed
    EXPECT_EQ(l.find("desc:barn"), (Names{"wood knock.aif"}));
    EXPECT_EQ(l.find("barn"), Names{}); // plain words: the name only
    // The file's own tempo and root note stand where the analysis has none.
    EXPECT_EQ(l.find("bpm:92"), (Names{"wood knock.aif"}));
    EXPECT_EQ(l.find("note:C3"), (Names{"wood knock.aif"}));
    // All text: folder names, tags and descriptions too, each word on its own.
    const Query q = parseQuery("barn old");
    EXPECT_TRUE(matchesQuery(q, l.store, 4, true));
    EXPECT_FALSE(matchesQuery(q, l.store, 4, false));
    EXPECT_TRUE(matchesQuery(parseQuery("live funk"), l.store, 2, true)); // tags
    EXPECT_TRUE(matchesQuery(parseQuery("drums"), l.store, 2, true)); // the folder
}
