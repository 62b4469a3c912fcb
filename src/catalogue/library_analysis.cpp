// The analysis the library keeps and what it answers from it: what was
// learned of a list's sounds, those never analysed, and similar sounds,
// within a list or across every folder.
#include "catalogue/library.h"

#include <cmath>
#include <numeric>

#include <sys/stat.h>

#include "catalogue/library_rows.h"
#include "core/diagnostics.h"

namespace auralist::catalogue {

void Library::recordAnalysis(const RecordStorePtr &store, std::vector<AnalysisResult> results)
{
    if (!store || results.empty())
        return;
    // A sound is written under the path it was analysed at, unless it was
    // renamed since: then under its path now, which the window's thread,
    // owning the store, knows.
    std::erase_if(results, [&](const AnalysisResult &r) {
        return r.record >= store->size() || r.traits.state == SoundTraits::State::Unknown;
    });
    for (AnalysisResult &r : results) {
        if (r.path.empty() || store->edited(r.record))
            r.path = store->path(r.record);
    }
    m_writer.post([this, store, results = std::move(results)](Database &db) {
        Database::Analyses analyses = db.analyses();
        for (const AnalysisResult &result : results) {
            const std::string &path = result.path;
            // A file that is not there (its drive unplugged) says nothing
            // of its content: tried again another time.
            struct stat st { };
            if (result.traits.state == SoundTraits::State::Failed && ::stat(path.c_str(), &st) != 0)
                continue;
            analyses.setAnalysis(path, result);
            if (result.traits.state != SoundTraits::State::Analysed || !m_similar.loaded())
                continue;
            const auto content = analyses.contentAt(path);
            const auto label = content ? m_similar.put(*content, result.descriptor) : std::nullopt;
            if (label && m_labelled.store == store)
                m_labelled.labels.emplace_back(result.record, *label);
        }
    });
}

SimilarSounds &Library::similar(Database &db)
{
    if (!m_similar.loaded()) {
        const auto start = Clock::now();
        m_similar.clear();
        db.analyses().eachDescription([&](const ContentKey &content, std::span<const float> description) {
            m_similar.put(content, description);
        });
        const auto *index = m_similar.index();
        debugLog("catalogue: " + std::to_string(index ? index->size() : 0) + " descriptions read in "
                 + std::to_string(msSince(start)) + " ms");
    }
    return m_similar;
}

const std::vector<std::pair<std::uint32_t, std::uint32_t>> &Library::labelsOf(Database &db, const RecordStorePtr &store)
{
    if (m_labelled.store == store)
        return m_labelled.labels;
    const PathIndex at = indexOf(*store);
    std::vector<std::pair<std::uint32_t, ContentKey>> contents;
    db.analyses().eachAnalysis(
        [&](std::string_view path, const std::optional<ContentKey> &content, const AnalysisResult &found) {
            const auto i = content ? at.find(path) : std::nullopt;
            if (i && found.traits.state == SoundTraits::State::Analysed)
                contents.emplace_back(*i, *content);
        });
    label(db, store, contents);
    return m_labelled.labels;
}

void Library::label(Database &db, const RecordStorePtr &store,
                    const std::vector<std::pair<std::uint32_t, ContentKey>> &contents)
{
    const SimilarSounds &known = similar(db);
    m_labelled = {store, {}};
    m_labelled.labels.reserve(contents.size());
    for (const auto &[record, content] : contents) {
        if (const auto label = known.labelOf(content))
            m_labelled.labels.emplace_back(record, *label);
    }
}

void Library::requestAnalyses(std::uint64_t request, const RecordStorePtr &store)
{
    if (!store)
        return;
    m_writer.post([this, request, store](Database &db) {
        const PathIndex at = indexOf(*store);
        std::vector<AnalysisResult> results;
        std::vector<std::pair<std::uint32_t, ContentKey>> contents;
        db.analyses().eachAnalysis(
            [&](std::string_view path, const std::optional<ContentKey> &content, const AnalysisResult &found) {
                const auto i = at.find(path);
                if (!i)
                    return;
                AnalysisResult r;
                r.record = *i;
                r.traits = found.traits;
                r.error = found.error;
                results.push_back(std::move(r));
                if (content && found.traits.state == SoundTraits::State::Analysed)
                    contents.emplace_back(*i, *content);
            });
        tell([request, store, results = std::move(results)](Listener &l) {
            l.catalogueAnalysesArrived(request, store, results);
        });
        // Then (the first time: after the answer) what Find Similar needs.
        label(db, store, contents);
    });
}

void Library::requestUnanalysed(std::uint64_t request, std::int64_t after, std::size_t most)
{
    m_writer.post([this, request, after, most](Database &db) {
        std::vector<std::string> paths;
        std::int64_t last = after;
        for (auto &[id, path] : db.analyses().unanalysed(after, most)) {
            last = id;
            paths.push_back(std::move(path));
        }
        tell([request, last, paths = std::move(paths)](Listener &l) {
            l.catalogueUnanalysedArrived(request, last, paths);
        });
    });
}

namespace {

// Alike: 100; a unit of spread in every part of the description apart:
// about 15.
double likenessOf(float squaredDistance)
{
    return 100.0 * std::exp(-std::sqrt(static_cast<double>(squaredDistance)) / 3.0);
}

} // namespace

std::vector<Catalogue::Listener::Likeness> Library::similarAmong(Database &db, const RecordStorePtr &store,
                                                                 std::uint32_t record, std::size_t most)
{
    const auto &labels = labelsOf(db, store);
    const DescriptionIndex *index = similar(db).index();
    const auto asked = std::find_if(labels.begin(), labels.end(), [&](const auto &l) { return l.first == record; });
    if (!index || asked == labels.end())
        return {};
    std::vector<std::uint32_t> among(labels.size());
    std::transform(labels.begin(), labels.end(), among.begin(), [](const auto &l) { return l.second; });
    // The description is copied: the index is not changed meanwhile, but
    // a span into it is no query to keep.
    const auto description = index->description(asked->second);
    const std::vector<float> query(description.begin(), description.end());
    std::vector<Listener::Likeness> found;
    for (const auto &[position, distance] : index->nearestAmong(query, among, most))
        found.emplace_back(labels[position].first, likenessOf(distance));
    return found;
}

RecordStorePtr Library::similarEverywhere(Database &db, const std::string &path, std::size_t most,
                                          std::vector<Listener::Likeness> &found)
{
    SimilarSounds &known = similar(db);
    const DescriptionIndex *index = known.index();
    const auto content = db.analyses().contentAt(path);
    const auto label = content ? known.labelOf(*content) : std::nullopt;
    if (!index || !label)
        return nullptr;
    const auto description = index->description(*label);
    const std::vector<float> query(description.begin(), description.end());
    auto store = std::make_shared<RecordStore>();
    for (const auto &[near, distance] : index->nearest(query, most)) {
        // Every sound of that content (copies of one sound are equally
        // like it), while there is room.
        for (const auto &[row, analysis] : db.analyses().soundsWith(known.content(near))) {
            if (store->size() >= most)
                break;
            const std::uint32_t i = store->size();
            addRow(*store, row);
            SoundTraits traits = analysis.traits;
            if (traits.state == SoundTraits::State::Failed)
                traits.reason = store->reasonNumber(analysis.error);
            store->setTraits(i, traits);
            found.emplace_back(i, likenessOf(distance));
        }
    }
    return store;
}

void Library::findSimilar(std::uint64_t request, const RecordStorePtr &store, std::uint32_t record, std::size_t most,
                          bool everywhere)
{
    if (!store || record >= store->size())
        return;
    // The path is taken here, on the window's thread, which owns the store.
    std::string path(store->path(record));
    m_writer.post([this, request, store, record, most, everywhere, path = std::move(path)](Database &db) {
        const auto start = Clock::now();
        std::vector<Listener::Likeness> nearest;
        RecordStorePtr answer = store;
        if (everywhere)
            answer = similarEverywhere(db, path, most, nearest);
        else
            nearest = similarAmong(db, store, record, most);
        if (!answer)
            answer = store;
        const auto *index = m_similar.index();
        debugLog(std::string("catalogue: similar ") + (everywhere ? "everywhere" : "in the list") + " among "
                 + std::to_string(everywhere ? (index ? index->size() : 0) : m_labelled.labels.size()) + " in "
                 + std::to_string(msSince(start)) + " ms");
        tell([request, answer, nearest = std::move(nearest)](Listener &l) {
            l.catalogueSimilarFound(request, answer, nearest);
        });
    });
}

} // namespace auralist::catalogue
