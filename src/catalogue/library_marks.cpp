// Favourites and tags: written at once and kept in the journal beside the
// catalogue until they are in it, and exported and imported as a file.
#include "catalogue/library.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "catalogue/exchange.h"
#include "catalogue/library_rows.h"
#include "core/diagnostics.h"

namespace auralist::catalogue {

namespace fs = std::filesystem;

void Library::settleMarks(Database &db)
{
    if (m_marks.empty())
        return;
    std::vector<MarkEdit> left;
    std::unordered_set<std::string_view> held; // a sound with a mark kept: its later marks wait too
    bool failed = false;
    for (const MarkEdit &edit : m_marks) {
        if (!held.count(edit.path)) {
            const Database::Marked marked = db.mark(edit);
            if (marked == Database::Marked::Done)
                continue;
            failed = failed || marked == Database::Marked::Failed;
        }
        left.push_back(edit);
        held.insert(left.back().path);
    }
    // What was marked leaves the journal only once it is committed.
    if (!db.commitNow()) {
        m_marksFailed = true;
        return;
    }
    m_marksFailed = failed;
    if (left.size() != m_marks.size()) {
        m_marks = std::move(left);
        m_journal.replace(m_marks);
    }
}

bool Library::marksWaitFor(const std::vector<SoundRow> &rows) const
{
    if (m_marks.empty())
        return false;
    std::unordered_set<std::string_view> waiting;
    for (const MarkEdit &edit : m_marks)
        waiting.insert(edit.path);
    return std::any_of(rows.begin(), rows.end(), [&](const SoundRow &row) { return waiting.count(row.path) != 0; });
}

void Library::postMarks(std::vector<MarkEdit> edits, std::string what)
{
    auto shared = std::make_shared<std::vector<MarkEdit>>(std::move(edits));
    m_writer.post(
        [this, shared, what = std::move(what), start = Clock::now()](Database &db) {
            settleMarks(db);
            std::unordered_set<std::string_view> pending;
            for (const MarkEdit &e : m_marks)
                pending.insert(e.path);
            const auto kept = std::count_if(shared->begin(), shared->end(),
                                            [&](const MarkEdit &e) { return pending.count(e.path) != 0; });
            debugLog("catalogue: " + what
                     + (kept == 0 ? " saved in " + std::to_string(msSince(start)) + " ms"
                                  : ": " + std::to_string(kept) + " kept until they can be written"));
        },
        {}, Writer::Order::Soon,
        [this, shared] {
            // On the disk first, before any wait on the catalogue.
            m_journal.append(*shared);
            m_marks.insert(m_marks.end(), shared->begin(), shared->end());
        });
}

void Library::setFavourite(std::vector<std::string> paths, bool on)
{
    std::string what = "favourite of " + std::to_string(paths.size());
    std::vector<MarkEdit> edits;
    edits.reserve(paths.size());
    for (std::string &path : paths)
        edits.push_back({MarkEdit::Kind::Favourite, std::move(path), on, {}});
    postMarks(std::move(edits), std::move(what));
}

void Library::setTags(std::vector<std::string> paths, std::string tags)
{
    std::string what = "tags of " + std::to_string(paths.size());
    std::vector<MarkEdit> edits;
    edits.reserve(paths.size());
    for (std::string &path : paths)
        edits.push_back({MarkEdit::Kind::Tags, std::move(path), false, tags});
    postMarks(std::move(edits), std::move(what));
}

void Library::exportMarks(const std::string &file, Done done)
{
    m_writer.post([this, file, done = std::move(done)](Database &db) {
        const std::string json = catalogue::exportMarks(db);
        const std::string part = file + ".part";
        bool ok = false;
        {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            out << json;
            out.flush();
            ok = static_cast<bool>(out);
        }
        std::error_code error;
        if (ok)
            fs::rename(part, file, error);
        if (!ok || error)
            fs::remove(part, error);
        const bool written = ok && !error;
        m_mailbox.post([done, written] {
            done(written, written ? "Favourites and tags were written." : "The file could not be written.");
        });
    });
}

void Library::importMarks(const std::string &file, Done done)
{
    m_writer.post([this, file, done = std::move(done)](Database &db) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const ImportResult result = catalogue::importMarks(db, in ? text.str() : std::string());
        std::string message;
        if (!result.readable)
            message = "The file is not a list of favourites and tags.";
        else
            message = std::to_string(result.applied) + " sounds marked; " + std::to_string(result.unmatched)
                + " not in the catalogue.";
        m_mailbox.post([done, ok = result.readable, message] { done(ok, message); });
        tellFolders(db);
    });
}

} // namespace auralist::catalogue
