#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/list_shown.h"
#include "core/records.h"
#include "core/services.h"

namespace auralist {

class BrowserView;
class FileJobs;
class Options;
class TableController;
class TriageFeature;

// Deleting sounds: the question (what it is about noted when asked, so that
// only those very files go), the files removed on the file worker, the rows
// taken out, what went to the Trash kept for undo, and what could not go
// told. The controller's Delete actions hand their answers here.
//
// Threads: the window's; the worker's answers arrive there.
class Deletion {
public:
    struct Services {
        FileSystem &fileSystem;
        Desktop &desktop;
        Alerts &alerts;
        FileJobs &jobs;
        Options &options;
        TriageFeature &triage;
    };
    // stop: playback stops for the question; play: it starts again once
    // the question is answered and what followed is done.
    Deletion(const Services &services, ListShown &list, TableController &table, BrowserView &view,
             std::function<void()> stop, std::function<void()> play);
    Deletion(const Deletion &) = delete;
    Deletion &operator=(const Deletion &) = delete;

    // The question is open.
    bool isOpen() const { return m_open; }
    // Approved files are on the file worker.
    bool deleting() const { return m_deleting; }
    bool busy() const { return m_open || m_deleting; }

    // Asks once about deleting records. With sounds (one for each record:
    // the file kept of its group and the hash of the audio both hold),
    // each record's file and its kept one are checked to hold that audio
    // right before it goes.
    void ask(std::vector<SoundRecord> records, std::vector<KeptSound> sounds = {});
    // The answer: 1 deletes what was asked about, anything else nothing.
    void answer(int returnCode);

private:
    // Deletes, on the file worker, asked (approved) whose check, if any,
    // found them still copies.
    void approved(const std::vector<SoundRecord> &asked, const std::vector<std::optional<FileIdentity>> &identities,
                  const std::vector<std::optional<std::string>> &refused);
    // The files of going are gone, as results say (one for each): their
    // rows go (what went to the Trash can come back); why any is still
    // there joins refusals.
    void removedAll(const std::vector<SoundRecord> &going, const std::vector<FileResult> &results, bool trash,
                    std::vector<std::string> &refusals);
    // Why the file of record is still there, as result says (none: gone).
    static std::optional<std::string> refusalOf(const SoundRecord &record, const FileResult &result, bool trash);
    // The deletion is over: the refusals told, playback, the panel hidden.
    void finished(const std::vector<std::string> &refusals);
    void tellUser(const std::string &message);

    FileSystem &m_fs;
    Desktop &m_desktop;
    Alerts &m_alerts;
    FileJobs &m_jobs;
    Options &m_options;
    TriageFeature &m_triage;
    ListShown &m_list;
    TableController &m_table;
    BrowserView &m_view;
    std::function<void()> m_stop;
    std::function<void()> m_play;

    // What the question is about: each sound, and what its file was when
    // asked.
    bool m_open = false;
    std::vector<SoundRecord> m_records;
    std::vector<std::optional<FileIdentity>> m_identities;
    std::vector<KeptSound> m_sounds; // Delete Duplicates: what each copy must still be
    bool m_deleting = false;
};

} // namespace auralist
