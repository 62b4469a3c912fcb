#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <sqlite3.h>

#include "catalogue/library.h"
#include "catalogue/reconcile.h"
#include "catalogue/similar_sounds.h"
#include "catalogue/walk.h"
#include "intake/scanner.h"
#include "library_rig.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::testing;
namespace fs = std::filesystem;

namespace {

// Facts read from a header: a WAV-like container with the given encoding.
HeaderFacts readFacts(std::int64_t frames, std::uint32_t rate, std::uint16_t channels, std::uint8_t encoding)
{
    HeaderFacts facts;
    facts.state = HeaderFacts::State::Read;
    facts.frames = frames;
    facts.rate = rate;
    facts.channels = channels;
    facts.container = 1;
    facts.encoding = encoding;
    return facts;
}

} // namespace

TEST(Library, RemembersAnIntakeWithItsFactsAndMarksAndShowsItAgain)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    {
        catalogue::Library library(file, [] { return ++g_clock; });
        library.addListener(&heard);
        const RecordStorePtr intake = storeOf(f.all());
        library.recordIntake({f.root}, intake);
        const HeaderFacts facts = readFacts(44100, 48000, 2, 2);
        FileMetadata said;
        said.description = "deep kick";
        said.text = "Description: deep kick\nOriginator: Kit";
        said.bpm = 128.5F;
        said.rootNote = 36;
        library.recordFacts(intake, {{0, facts, {}, said}});
        library.setFavourite({f.at("snare.wav")}, true);
        library.setTags({f.at("snare.wav"), f.at("hat.wav")}, "dry, short");
        library.notePlayed(f.at("hat.wav"));
        library.notePlayed(f.at("kick.wav"));
        settle(library);
        ASSERT_EQ(heard.folders.size(), 1U);
        EXPECT_EQ(heard.folders[0].path, f.root);
        EXPECT_EQ(heard.folders[0].sounds, 4U);
        EXPECT_FALSE(heard.folders[0].offline);
        EXPECT_TRUE(heard.problems.empty());
    }
    // A new start: the same catalogue, the same answers.
    catalogue::Library library(file, [] { return ++g_clock; });
    library.addListener(&heard);
    library.requestList(7, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(heard.list);
    EXPECT_EQ(heard.list->first, 7U);
    const RecordStore &shown = *heard.list->second;
    EXPECT_EQ(pathsIn(shown), f.all());
    EXPECT_EQ(shown.facts(0).state, HeaderFacts::State::Read);
    EXPECT_EQ(shown.facts(0).frames, 44100);
    EXPECT_EQ(shown.facts(0).rate, 48000U);
    EXPECT_EQ(shown.facts(0).container, 1);
    EXPECT_EQ(shown.facts(0).encoding, 2);
    EXPECT_EQ(shown.facts(1).state, HeaderFacts::State::Unknown);
    // What the file said of itself comes back with it.
    ASSERT_TRUE(shown.metadata(0));
    EXPECT_EQ(shown.metadata(0)->description, "deep kick");
    EXPECT_EQ(shown.metadata(0)->text, "Description: deep kick\nOriginator: Kit");
    EXPECT_FLOAT_EQ(shown.metadata(0)->bpm, 128.5F);
    EXPECT_EQ(shown.metadata(0)->rootNote, 36);
    EXPECT_FALSE(shown.metadata(1));
    EXPECT_TRUE(shown.favourite(1));
    EXPECT_FALSE(shown.favourite(0));
    EXPECT_EQ(shown.tags(2), "dry, short");
    EXPECT_EQ(shown.value(1, "favourite").value_or(""), "\u2605");

    library.requestList(8, Catalogue::ListKind::Favourites, {});
    settle(library);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{f.at("snare.wav")});
    library.requestList(9, Catalogue::ListKind::RecentlyPlayed, {});
    settle(library);
    // The latest first.
    EXPECT_EQ(pathsIn(*heard.list->second), (std::vector<std::string>{f.at("kick.wav"), f.at("hat.wav")}));

    // The folder taken in again: its marks come back, by record.
    const RecordStorePtr again = storeOf({f.at("hat.wav"), f.at("snare.wav")});
    library.recordIntake({f.root}, again);
    settle(library);
    ASSERT_EQ(heard.marked, again);
    ASSERT_EQ(heard.marks.size(), 2U);
    EXPECT_EQ(heard.marks[0].record, 0U);
    EXPECT_EQ(heard.marks[0].tags, "dry, short");
    EXPECT_FALSE(heard.marks[0].favourite);
    EXPECT_EQ(heard.marks[1].record, 1U);
    EXPECT_TRUE(heard.marks[1].favourite);
    // Half of what it had: the two others are forgotten without a question.
    EXPECT_FALSE(heard.asked);
    EXPECT_EQ(heard.folders[0].sounds, 2U);
}

// A folder the catalogue knows, taken in again after changes made outside:
// what is as it was keeps its facts and marks without being read again, a
// sound renamed keeps its marks, a changed one loses the facts read of it.
TEST(Library, AKnownFolderTakenInAgainKeepsWhatIsAsItWas)
{
    const Folder f;
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db", [] { return ++g_clock; });
    library.addListener(&heard);
    const RecordStorePtr first = storeOf(f.all());
    library.recordIntake({f.root}, first);
    const HeaderFacts facts = readFacts(4410, 44100, 1, 1);
    library.recordFacts(first, {{0, facts, {}, {}}, {2, facts, {}, {}}});
    library.setFavourite({f.at("snare.wav")}, true);
    library.setTags({f.at("hat.wav")}, "airy");
    library.setTags({f.at("kick.wav")}, "deep");
    settle(library);

    fs::rename(f.at("snare.wav"), f.at("snare 2.wav"));
    writeFile(f.at("kick.wav"), std::string(3500, 'K'));
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, f.at("kick.wav").c_str(), times, 0), 0);
    fs::remove(f.at("tom.wav"));
    const std::vector<std::string> now = {f.at("hat.wav"), f.at("kick.wav"), f.at("snare 2.wav")};
    const RecordStorePtr again = storeOf(now);
    library.recordIntake({f.root}, again);
    settle(library);
    ASSERT_EQ(heard.marked, again);
    std::map<std::uint32_t, std::pair<bool, std::string>> marks;
    for (const auto &m : heard.marks)
        marks[m.record] = {m.favourite, m.tags};
    EXPECT_EQ(marks[0], std::make_pair(false, std::string("airy")));
    EXPECT_EQ(marks[1], std::make_pair(false, std::string("deep"))); // changed, still the same sound
    EXPECT_EQ(marks[2], std::make_pair(true, std::string())); // renamed
    EXPECT_FALSE(heard.asked);

    library.requestList(3, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(heard.list);
    const RecordStore &shown = *heard.list->second;
    std::map<std::string, std::uint32_t> at;
    for (std::uint32_t i = 0; i < shown.size(); ++i)
        at[shown.path(i)] = i;
    ASSERT_EQ(at.size(), 3U);
    EXPECT_EQ(shown.facts(at[f.at("hat.wav")]).state, HeaderFacts::State::Read);
    EXPECT_EQ(shown.facts(at[f.at("hat.wav")]).frames, 4410);
    EXPECT_NE(shown.facts(at[f.at("kick.wav")]).state, HeaderFacts::State::Read);
    EXPECT_TRUE(shown.favourite(at[f.at("snare 2.wav")]));
}

TEST(Library, ACheckBringsTheListShownUpToDateAndMarksFollowARename)
{
    const Folder f;
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&heard);
    library.recordIntake({f.root}, storeOf(f.all()));
    library.setFavourite({f.at("hat.wav")}, true);
    library.requestList(1, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(heard.list);
    const RecordStorePtr shown = heard.list->second;

    // Outside Auralist: a rename, a deletion, a new file, a changed one.
    fs::rename(f.at("hat.wav"), f.at("hat renamed.wav"));
    fs::remove(f.at("tom.wav"));
    writeFile(f.at("clap.wav"), std::string(700, 'c'));
    writeFile(f.at("kick.wav"), std::string(3100, 'K'));
    library.checkList(1, f.root, kTypes);
    settle(library);
    ASSERT_TRUE(heard.changes);
    const Catalogue::Listener::Changes &c = *heard.changes;
    ASSERT_TRUE(c.extended);
    // Every record of the list shown at its index, then the new ones.
    ASSERT_EQ(c.firstAdded, shown->size());
    for (std::uint32_t i = 0; i < shown->size(); ++i)
        EXPECT_EQ(c.extended->path(i), shown->path(i));
    std::vector<std::string> added;
    for (std::uint32_t i = c.firstAdded; i < c.extended->size(); ++i)
        added.emplace_back(c.extended->path(i));
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (std::vector<std::string>{f.at("clap.wav"), f.at("hat renamed.wav")}));
    EXPECT_EQ(c.gone, (std::vector<std::uint32_t>{2, 3})); // hat (moved away) and tom
    EXPECT_EQ(c.changed, std::vector<std::uint32_t>{0}); // kick
    // The renamed sound is still the favourite it was.
    for (std::uint32_t i = c.firstAdded; i < c.extended->size(); ++i)
        EXPECT_EQ(c.extended->favourite(i), c.extended->path(i) == f.at("hat renamed.wav"));
    EXPECT_FALSE(heard.asked);

    // A second check of the same list tells only what changed since.
    const std::uint32_t listed = c.extended->size();
    heard.changes.reset();
    writeFile(f.at("snare.wav"), std::string(2100, 'S'));
    library.checkList(1, f.root, kTypes);
    settle(library);
    ASSERT_TRUE(heard.changes);
    EXPECT_EQ(heard.changes->changed, std::vector<std::uint32_t>{1});
    EXPECT_TRUE(heard.changes->gone.empty());
    EXPECT_EQ(heard.changes->extended->size(), listed);
    heard.changes.reset();
    library.checkList(1, f.root, kTypes);
    settle(library);
    EXPECT_FALSE(heard.changes);

    library.requestList(2, Catalogue::ListKind::Favourites, {});
    settle(library);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{f.at("hat renamed.wav")});
    EXPECT_EQ(heard.folders[0].sounds, 4U);

    // A check of a list no longer shown is given up: it tells nothing and
    // changes nothing (the folder is checked when it is shown again).
    heard.changes.reset();
    fs::remove(f.at("clap.wav"));
    library.checkList(1, f.root, kTypes);
    settle(library);
    EXPECT_FALSE(heard.changes);
    EXPECT_EQ(heard.folders[0].sounds, 4U);
    library.requestList(3, Catalogue::ListKind::Folder, f.root);
    library.checkList(3, f.root, kTypes);
    settle(library);
    EXPECT_EQ(heard.folders[0].sounds, 3U);
}

TEST(Library, MostOfAFolderGoneIsAskedAboutAndAnUnpluggedOneKeepsEverything)
{
    const Folder f;
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&heard);
    library.recordIntake({f.root}, storeOf(f.all()));
    library.setTags({f.at("tom.wav")}, "low");
    library.requestList(1, Catalogue::ListKind::Folder, f.root);
    settle(library);

    // Three of four gone: the catalogue keeps them until the user says.
    for (const char *name : {"kick.wav", "snare.wav", "hat.wav"})
        fs::remove(f.at(name));
    library.checkList(1, f.root, kTypes);
    settle(library);
    ASSERT_TRUE(heard.asked);
    EXPECT_EQ(heard.asked->first, 3U);
    EXPECT_EQ(heard.asked->second, 4U);
    EXPECT_EQ(heard.folders[0].sounds, 4U);
    library.forget(f.root, true);
    settle(library);
    EXPECT_EQ(heard.folders[0].sounds, 1U);

    // A FIFO named like a sound is remembered, never opened to wait on.
    ASSERT_EQ(::mkfifo(f.at("pipe.wav").c_str(), 0600), 0);
    library.recordIntake({f.root}, storeOf({f.at("tom.wav"), f.at("pipe.wav")}));
    settle(library);
    EXPECT_EQ(heard.folders[0].sounds, 2U);
    fs::remove(f.at("pipe.wav"));
    library.recordIntake({f.root}, storeOf({f.at("tom.wav")}));

    // The folder's drive goes: offline, with its records and tags.
    const std::string away = f.dir.path() + "/elsewhere";
    fs::rename(f.root, away);
    library.recordIntake({f.dir.path() + "/other"}, storeOf({}));
    settle(library);
    ASSERT_EQ(heard.folders.size(), 2U);
    EXPECT_TRUE(heard.folders[0].offline);
    EXPECT_EQ(heard.folders[0].sounds, 1U);
    library.requestList(2, Catalogue::ListKind::Folder, f.root);
    library.checkList(2, f.root, kTypes);
    settle(library);
    ASSERT_EQ(heard.list->second->size(), 1U);
    EXPECT_EQ(heard.list->second->tags(0), "low");
    EXPECT_EQ(heard.folders[0].sounds, 1U);
    // Back again: online, nothing lost.
    fs::rename(away, f.root);
    library.forget(f.dir.path() + "/other", false);
    settle(library);
    ASSERT_EQ(heard.folders.size(), 1U);
    EXPECT_FALSE(heard.folders[0].offline);
    // Forgetting the folder forgets entries, never files.
    library.forget(f.root, false);
    settle(library);
    EXPECT_TRUE(heard.folders.empty());
    EXPECT_TRUE(fs::exists(f.at("tom.wav")));
}

TEST(Library, ProblemsAreToldAndMarksTravelAsAFile)
{
    const Folder f;
    {
        // A folder that cannot hold the file: running without it.
        const std::string locked = f.dir.path() + "/locked";
        fs::create_directory(locked);
        ::chmod(locked.c_str(), 0500);
        Heard heard;
        catalogue::Library library(locked + "/library.db");
        library.addListener(&heard);
        settle(library);
        if (::geteuid() != 0 || !fs::exists(locked + "/library.db")) {
            ASSERT_EQ(heard.problems.size(), 1U);
            EXPECT_EQ(heard.problems[0], Catalogue::Problem::Unavailable);
        }
        ::chmod(locked.c_str(), 0700);
    }
    const std::string file = f.dir.path() + "/library.db";
    const std::string marks = f.dir.path() + "/marks.json";
    {
        Heard heard;
        catalogue::Library library(file);
        library.addListener(&heard);
        library.recordIntake({f.root}, storeOf(f.all()));
        library.setFavourite({f.at("kick.wav")}, true);
        library.setTags({f.at("snare.wav")}, "bright");
        std::optional<std::pair<bool, std::string>> done;
        library.exportMarks(marks, [&done](bool ok, std::string message) { done = {ok, message}; });
        ASSERT_TRUE(spinUntil([&] { return done.has_value(); }));
        EXPECT_TRUE(done->first);
        EXPECT_TRUE(heard.problems.empty());
    }
    // Junk where the catalogue was: set aside, begun again, told once;
    // the marks come back from the file.
    writeFile(file, std::string(4096, 'x'));
    for (const char *suffix : {"-wal", "-shm"})
        fs::remove(file + suffix);
    Heard heard;
    catalogue::Library library(file);
    library.addListener(&heard);
    library.recordIntake({f.root}, storeOf(f.all()));
    std::optional<std::pair<bool, std::string>> done;
    library.importMarks(marks, [&done](bool ok, std::string message) { done = {ok, message}; });
    ASSERT_TRUE(spinUntil([&] { return done.has_value(); }));
    EXPECT_TRUE(done->first) << done->second;
    ASSERT_EQ(heard.problems.size(), 1U);
    EXPECT_NE(heard.problems[0], Catalogue::Problem::Unavailable);
    library.requestList(1, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(heard.list);
    EXPECT_TRUE(heard.list->second->favourite(0));
    EXPECT_EQ(heard.list->second->tags(1), "bright");
    // A file that is not such a list changes nothing and says so.
    writeFile(marks, "{\"not\": 1}");
    done.reset();
    library.importMarks(marks, [&done](bool ok, std::string message) { done = {ok, message}; });
    ASSERT_TRUE(spinUntil([&] { return done.has_value(); }));
    EXPECT_FALSE(done->first);
}

TEST(Library, AFolderOfThousandsIsLookedAtOnSeveralThreads)
{
    TempDir dir;
    const std::string root = dir.path() + "/Many";
    fs::create_directory(root);
    std::vector<std::string> paths;
    for (int i = 0; i < 3000; ++i) {
        paths.push_back(root + "/take " + std::to_string(i) + ".wav");
        writeFile(paths.back(), "take " + std::to_string(i));
    }
    Heard heard;
    catalogue::Library library(dir.path() + "/library.db");
    library.addListener(&heard);
    library.recordIntake({root}, storeOf(paths));
    library.setFavourite({paths[1234]}, true);
    library.requestList(1, Catalogue::ListKind::Folder, root);
    settle(library);
    ASSERT_TRUE(heard.list);
    ASSERT_EQ(heard.list->second->size(), 3000U);
    EXPECT_TRUE(heard.list->second->favourite(1234));

    const std::string renamed = root + "/the keeper.wav";
    fs::rename(paths[1234], renamed);
    paths[1234] = renamed;
    library.checkList(1, root, kTypes);
    settle(library);
    ASSERT_TRUE(heard.changes);
    EXPECT_EQ(heard.changes->gone, std::vector<std::uint32_t>{1234});
    ASSERT_EQ(heard.changes->extended->size(), 3001U);
    EXPECT_EQ(heard.changes->extended->path(3000), renamed);
    EXPECT_TRUE(heard.changes->extended->favourite(3000));
    EXPECT_EQ(heard.folders[0].sounds, 3000U);
}

// Each sound of an intake is recorded under the first of the intake's
// roots it is under: a file dropped itself, a folder, not a folder whose
// name only begins like another's.
TEST(Library, EachSoundGoesToTheFirstRootItIsUnder)
{
    TempDir dir;
    const std::string kit = dir.path() + "/Kit";
    const std::string kits = dir.path() + "/Kits";
    fs::create_directories(kit + "/sub");
    fs::create_directory(kits);
    const std::vector<std::string> paths{kit + "/sub/one.wav", kit + "/sub/two.wav", kit + "/three.wav",
                                         kits + "/four.wav"};
    for (const std::string &p : paths)
        writeFile(p, p);
    Heard heard;
    catalogue::Library library(dir.path() + "/library.db");
    library.addListener(&heard);
    library.recordIntake({kit + "/sub/two.wav", kit + "/", kits}, storeOf(paths));
    settle(library);
    std::map<std::string, std::uint64_t> counts;
    for (const CataloguedFolder &f : heard.folders)
        counts[f.path] = f.sounds;
    EXPECT_EQ(counts[kit + "/sub/two.wav"], 1U);
    EXPECT_EQ(counts[kits], 1U);
    EXPECT_EQ(counts[kit] + counts[kit + "/"], 2U);
}

// What the analysis learned is kept by content: it survives a new start
// and a rename, and a changed file is analysed again.
TEST(Library, AnalysesAreKeptByContent)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    {
        catalogue::Library library(file);
        library.addListener(&heard);
        const RecordStorePtr intake = storeOf(f.all());
        library.recordIntake({f.root}, intake);
        AnalysisResult kick;
        kick.record = 0;
        kick.traits.state = SoundTraits::State::Analysed;
        kick.traits.loudness = -14.5F;
        kick.traits.peak = -0.5F;
        kick.traits.loop = true;
        kick.traits.bpm = 120.0F;
        kick.traits.audioHash = 77;
        kick.descriptor = {1.0F, 2.0F};
        AnalysisResult hat;
        hat.record = 2;
        hat.traits.state = SoundTraits::State::Failed;
        hat.error = "Truncated.";
        library.recordAnalysis(intake, {kick, hat});
        settle(library);
    }
    fs::rename(f.at("kick.wav"), f.at("kick renamed.wav"));
    writeFile(f.at("hat.wav"), std::string(1001, 'H')); // changed: to be analysed again
    catalogue::Library library(file);
    library.addListener(&heard);
    const RecordStorePtr again
        = storeOf({f.at("snare.wav"), f.at("kick renamed.wav"), f.at("hat.wav"), f.at("tom.wav")});
    library.recordIntake({f.root}, again);
    library.requestAnalyses(1, again);
    settle(library);
    ASSERT_TRUE(heard.analyses);
    ASSERT_EQ(heard.analyses->size(), 1U);
    const AnalysisResult &found = heard.analyses->front();
    EXPECT_EQ(found.record, 1U);
    EXPECT_EQ(found.traits.state, SoundTraits::State::Analysed);
    EXPECT_FLOAT_EQ(found.traits.loudness, -14.5F);
    EXPECT_TRUE(found.traits.loop);
    EXPECT_FLOAT_EQ(found.traits.bpm, 120.0F);
    EXPECT_TRUE(std::isnan(found.traits.peak) == false);
    EXPECT_EQ(found.traits.note, -1);
    EXPECT_EQ(found.traits.audioHash, 77U);
}

// Every listener is told every answer; one removed is told nothing more.
TEST(Library, EachListenerIsTold)
{
    const Folder f;
    Heard first;
    Heard second;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&first);
    library.addListener(&second);
    library.recordIntake({f.root}, storeOf(f.all()));
    library.requestList(1, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(first.list && second.list);
    EXPECT_EQ(first.list->second, second.list->second);
    // Each is given all of what is told, not what another left of it.
    ASSERT_EQ(first.folders.size(), 1U);
    ASSERT_EQ(second.folders.size(), 1U);
    EXPECT_EQ(second.folders[0].sounds, 4U);
    library.removeListener(&first);
    library.requestList(2, Catalogue::ListKind::Folder, f.root);
    settle(library);
    EXPECT_EQ(first.list->first, 1U);
    EXPECT_EQ(second.list->first, 2U);
}

// Two files alike in size and in their ends (two stems of one session)
// are two sounds: each is analysed on its own and keeps its own analysis,
// and a file found with a gone sound's fingerprint takes its marks only
// when its audio is that sound's.
TEST(Library, FilesAlikeInSizeAndEndsAreNotOneSound)
{
    const TempDir dir;
    const std::string root = dir.path() + "/Session";
    fs::create_directory(root);
    const std::string ends(70000, '\0');
    const std::string bass = ends + std::string(5000, 'b') + ends;
    const std::string drums = ends + std::string(5000, 'd') + ends;
    writeFile(root + "/Bass stem.wav", bass);
    writeFile(root + "/Drums stem.wav", drums);
    ASSERT_EQ(catalogue::fingerprintOf(root + "/Bass stem.wav"), catalogue::fingerprintOf(root + "/Drums stem.wav"));
    // Stands in for decoding: a hash of the whole file.
    const auto audioOf
        = [](const std::string &bytes) { return static_cast<std::uint64_t>(std::hash<std::string>{}(bytes)); };
    Heard heard;
    catalogue::Library library(dir.path() + "/library.db");
    library.addListener(&heard);
    std::atomic<int> hashed{0};
    library.setAudioHasher([&](const std::string &path) -> std::optional<std::uint64_t> {
        ++hashed;
        std::ifstream in(path, std::ios::binary);
        return audioOf(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    });
    const RecordStorePtr intake = storeOf({root + "/Bass stem.wav", root + "/Drums stem.wav"});
    library.recordIntake({root}, intake);
    AnalysisResult first;
    first.record = 0;
    first.traits.state = SoundTraits::State::Analysed;
    first.traits.loudness = -10.0F;
    first.traits.audioHash = audioOf(bass);
    library.recordAnalysis(intake, {first});
    library.setFavourite({root + "/Bass stem.wav"}, true);
    // The drums are not taken for analysed.
    library.requestUnanalysed(1, 0, 10);
    library.requestAnalyses(1, intake);
    settle(library);
    ASSERT_TRUE(heard.unanalysed);
    EXPECT_EQ(heard.unanalysed->second, std::vector<std::string>{root + "/Drums stem.wav"});
    ASSERT_TRUE(heard.analyses);
    ASSERT_EQ(heard.analyses->size(), 1U);
    EXPECT_EQ(heard.analyses->front().record, 0U);
    // Analysed in their turn, each keeps its own.
    AnalysisResult second;
    second.record = 1;
    second.traits.state = SoundTraits::State::Analysed;
    second.traits.loudness = -20.0F;
    second.traits.audioHash = audioOf(drums);
    library.recordAnalysis(intake, {second});
    library.requestAnalyses(2, intake);
    settle(library);
    ASSERT_EQ(heard.analyses->size(), 2U);
    for (const AnalysisResult &r : *heard.analyses)
        EXPECT_FLOAT_EQ(r.traits.loudness, r.record == 0 ? -10.0F : -20.0F);

    // Outside Auralist: the bass stem goes, a copy of the drums appears
    // with its fingerprint, and the bass is written again elsewhere in the
    // folder (another file, as a copy across drives makes). Only the bass
    // takes the favourite.
    library.requestList(3, Catalogue::ListKind::Folder, root);
    settle(library);
    fs::remove(root + "/Bass stem.wav");
    writeFile(root + "/Drums again.wav", drums);
    writeFile(root + "/Bass moved.wav", bass);
    library.checkList(3, root, kTypes);
    settle(library);
    EXPECT_GE(hashed.load(), 1);
    library.requestList(4, Catalogue::ListKind::Favourites, {});
    settle(library);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{root + "/Bass moved.wav"});
    // The moved bass keeps its analysis; the copy of the drums is its own
    // sound, to be analysed.
    library.requestUnanalysed(5, 0, 10);
    settle(library);
    EXPECT_EQ(heard.unanalysed->second, std::vector<std::string>{root + "/Drums again.wav"});

    // Without a way to hear them, a file alike in size and ends is taken
    // for a gone sound only when it is that very file renamed.
    catalogue::Library blind(dir.path() + "/blind.db");
    blind.addListener(&heard);
    blind.recordIntake({root}, storeOf({root + "/Bass moved.wav", root + "/Drums stem.wav"}));
    blind.setFavourite({root + "/Bass moved.wav", root + "/Drums stem.wav"}, true);
    blind.requestList(1, Catalogue::ListKind::Folder, root);
    settle(blind);
    fs::rename(root + "/Bass moved.wav", root + "/Bass renamed.wav");
    fs::remove(root + "/Drums stem.wav");
    writeFile(root + "/Drums written again.wav", drums);
    blind.checkList(1, root, kTypes);
    settle(blind);
    blind.requestList(2, Catalogue::ListKind::Favourites, {});
    settle(blind);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{root + "/Bass renamed.wav"});
}

// The rest of the catalogue is handed out a batch at a time, and what is
// analysed (or could not be, for its content) is not handed out again; a
// file that was not there at all is.
TEST(Library, SoundsNeverAnalysedAreHandedOutInBatches)
{
    const Folder f;
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&heard);
    const RecordStorePtr intake = storeOf(f.all());
    library.recordIntake({f.root}, intake);
    AnalysisResult done;
    done.record = 0;
    done.traits.state = SoundTraits::State::Analysed;
    AnalysisResult bad;
    bad.record = 1;
    bad.traits.state = SoundTraits::State::Failed;
    bad.error = "Not audio.";
    library.recordAnalysis(intake, {done, bad});
    settle(library);
    // tom is gone when its failure arrives: not held against its content.
    fs::rename(f.at("tom.wav"), f.at("tom.away"));
    AnalysisResult gone;
    gone.record = 3;
    gone.traits.state = SoundTraits::State::Failed;
    library.recordAnalysis(intake, {gone});
    settle(library);
    fs::rename(f.at("tom.away"), f.at("tom.wav"));
    library.requestUnanalysed(1, 0, 1);
    settle(library);
    ASSERT_TRUE(heard.unanalysed);
    EXPECT_EQ(heard.unanalysed->second, std::vector<std::string>{f.at("hat.wav")});
    library.requestUnanalysed(2, heard.unanalysed->first, 10);
    settle(library);
    EXPECT_EQ(heard.unanalysed->second, std::vector<std::string>{f.at("tom.wav")});
    library.requestUnanalysed(3, heard.unanalysed->first, 10);
    settle(library);
    EXPECT_TRUE(heard.unanalysed->second.empty());
}

TEST(Library, SimilarSoundsComeNearestFirst)
{
    const Folder f;
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&heard);
    const RecordStorePtr intake = storeOf(f.all());
    library.recordIntake({f.root}, intake);
    const auto described = [](std::uint32_t record, float x) {
        AnalysisResult r;
        r.record = record;
        r.traits.state = SoundTraits::State::Analysed;
        r.descriptor = {x, 0.0F, 1.0F};
        return r;
    };
    // kick 0, snare 5, hat 1; tom not analysed.
    library.recordAnalysis(intake, {described(0, 0.0F), described(1, 5.0F), described(2, 1.0F)});
    library.findSimilar(1, intake, 0, 10, false);
    settle(library);
    ASSERT_TRUE(heard.similar);
    ASSERT_EQ(heard.similar->size(), 3U);
    EXPECT_EQ((*heard.similar)[0].first, 0U);
    EXPECT_DOUBLE_EQ((*heard.similar)[0].second, 100.0);
    EXPECT_EQ((*heard.similar)[1].first, 2U);
    EXPECT_EQ((*heard.similar)[2].first, 1U);
    EXPECT_GT((*heard.similar)[1].second, (*heard.similar)[2].second);
    // A sound not analysed has no neighbours.
    library.findSimilar(2, intake, 3, 10, false);
    settle(library);
    EXPECT_TRUE(heard.similar->empty());

    // Another folder: a copy of the kick and a sound near it, analysed
    // after the descriptions were read.
    const std::string other = f.dir.path() + "/Other";
    fs::create_directory(other);
    writeFile(other + "/kick copy.wav", std::string(3000, 'k'));
    writeFile(other + "/near.wav", std::string(1500, 'n'));
    const RecordStorePtr second = storeOf({other + "/kick copy.wav", other + "/near.wav"});
    library.recordIntake({other}, second);
    // The copy is heard to be the kick once it is analysed itself.
    library.recordAnalysis(second, {described(0, 0.0F), described(1, 0.5F)});
    // Within the list shown, only its own sounds.
    library.findSimilar(3, intake, 0, 10, false);
    settle(library);
    ASSERT_EQ(heard.similar->size(), 3U);
    EXPECT_EQ(heard.similarStore, intake);
    // Every folder: a store of the answer's own, every copy of a content.
    library.findSimilar(4, intake, 0, 10, true);
    settle(library);
    ASSERT_TRUE(heard.similarStore);
    ASSERT_NE(heard.similarStore, intake);
    std::vector<std::string> order;
    for (const auto &[record, likeness] : *heard.similar)
        order.emplace_back(heard.similarStore->path(record));
    ASSERT_EQ(order.size(), 5U);
    EXPECT_EQ(std::set<std::string>(order.begin(), order.begin() + 2),
              (std::set<std::string>{f.at("kick.wav"), other + "/kick copy.wav"}));
    EXPECT_EQ(std::vector<std::string>(order.begin() + 2, order.end()),
              (std::vector<std::string>{other + "/near.wav", f.at("hat.wav"), f.at("snare.wav")}));
    EXPECT_DOUBLE_EQ((*heard.similar)[1].second, 100.0);
    EXPECT_EQ(heard.similarStore->traits(0).state, SoundTraits::State::Analysed);
    // The room asked for is kept to.
    library.findSimilar(5, intake, 0, 2, true);
    settle(library);
    EXPECT_EQ(heard.similar->size(), 2U);
}

// A folder inside one already remembered, taken in on its own, holds
// sounds the catalogue has: they are not entered twice.
TEST(Library, AFolderInsideARememberedOneIsNotEnteredTwice)
{
    const Folder f;
    fs::create_directory(f.root + "/Toms");
    writeFile(f.root + "/Toms/floor.wav", "floor");
    Heard heard;
    catalogue::Library library(f.dir.path() + "/library.db");
    library.addListener(&heard);
    std::vector<std::string> all = f.all();
    all.push_back(f.root + "/Toms/floor.wav");
    library.recordIntake({f.root}, storeOf(all));
    library.setFavourite({f.root + "/Toms/floor.wav"}, true);
    library.recordIntake({f.root + "/Toms"}, storeOf({f.root + "/Toms/floor.wav"}));
    library.requestList(1, Catalogue::ListKind::Favourites, {});
    settle(library);
    ASSERT_EQ(heard.folders.size(), 2U);
    EXPECT_EQ(heard.folders[0].sounds + heard.folders[1].sounds, 5U);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{f.root + "/Toms/floor.wav"});
    // Every sound of every folder, each once, its marks with it.
    library.requestList(2, Catalogue::ListKind::AllSounds, {});
    settle(library);
    EXPECT_EQ(pathsIn(*heard.list->second), all);
    EXPECT_TRUE(heard.list->second->favourite(4));
}

// A check must find exactly what an intake of the folder takes, or every
// check would add and remove sounds that never changed.
TEST(Library, ACheckFindsWhatAnIntakeTakes)
{
    const TempDir dir;
    const std::string root = dir.path() + "/Mixed/";
    const std::string top = dir.path() + "/Mixed";
    fs::create_directories(top + "/deep/deeper/deepest");
    fs::create_directories(top + "/folder.wav/inside");
    fs::create_directories(top + "/locked");
    for (const char *name : {"a.wav", "b.WAV", "c.aif", "skip.txt", "noext", "deep/d.wav", "deep/deeper/deepest/e.wav",
                             "folder.wav/inside/f.wav", "locked/g.wav"})
        writeFile(top + "/" + name, name);
    writeFile(top + "/\xff\xfe odd.wav", "odd");
    fs::create_directory_symlink(top + "/deep", top + "/linked folder");
    fs::create_symlink(top + "/a.wav", top + "/link.wav");
    fs::create_symlink(top + "/nowhere.wav", top + "/dangling.wav");
    ASSERT_EQ(::mkfifo((top + "/pipe.wav").c_str(), 0600), 0);
    // An entry with no extension is a sound by its type code.
    const unsigned char info[32] = {'W', 'A', 'V', 'E'};
    const bool typed = ::setxattr((top + "/noext").c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0) == 0;
    ::chmod((top + "/locked").c_str(), 0);

    const std::vector<std::string> types{"wav", "WAV", "aif", "WAVE"};
    PosixFileSystem posix;
    DiscardedOutput lines;
    std::vector<std::string> intake;
    scanPaths(posix, {{root}, types}, lines, [&](RecordStore &&batch) {
        for (std::uint32_t i = 0; i < batch.size(); ++i)
            intake.emplace_back(batch.path(i));
    });
    const auto found = catalogue::findSounds(root, types, [] { return false; });
    ::chmod((top + "/locked").c_str(), 0700);
    ASSERT_TRUE(found);
    std::vector<std::string> checked;
    for (std::size_t i = 0; i < found->size(); ++i)
        checked.emplace_back(found->path(i));
    std::sort(intake.begin(), intake.end());
    std::sort(checked.begin(), checked.end());
    EXPECT_EQ(checked, intake);
    EXPECT_EQ(std::count(checked.begin(), checked.end(), top + "/noext"), typed ? 1 : 0);
    EXPECT_EQ(std::count(checked.begin(), checked.end(), top + "/deep/deeper/deepest/e.wav"), 1);
    // Looked at as it is played: a link through to its file; a dangling one
    // is found but cannot be looked at.
    for (std::size_t i = 0; i < found->size(); ++i) {
        const catalogue::SoundRow row = found->row(i);
        if (row.path == top + "/link.wav") {
            EXPECT_EQ(row.size, 5);
        }
        if (row.path == top + "/dangling.wav") {
            EXPECT_EQ(row.inode, 0U);
        }
    }
    EXPECT_FALSE(catalogue::findSounds(top + "/not there", types, [] { return false; }));
    EXPECT_FALSE(catalogue::findSounds(root, types, [] { return true; }));
}

TEST(Library, AnEditThatCannotBeSavedIsTold)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    catalogue::Library library(file);
    library.addListener(&heard);
    library.recordIntake({f.root}, storeOf(f.all()));
    settle(library);
    EXPECT_TRUE(heard.problems.empty());
    // The file refuses every change to a sound from now on, as a full disk
    // would.
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TRIGGER refuse BEFORE UPDATE ON sounds BEGIN SELECT RAISE(FAIL, 'disk full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    library.setFavourite({f.at("kick.wav")}, true);
    ASSERT_TRUE(spinUntil([&] { return !heard.problems.empty(); }, 3000));
    settle(library);
    ASSERT_EQ(heard.problems.size(), 1U);
    EXPECT_EQ(heard.problems[0], Catalogue::Problem::WriteFailed);
}
