#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/records.h"
#include "core/services.h"

namespace auralist {

// A file kept in place of the copies Delete Duplicates removes, and the
// hash of the audio it and they hold.
struct KeptSound {
    std::string path;
    std::uint64_t audio = 0;
};

// What a feature beside the controller needs of the list it shows. Every
// call on the window's thread.
class ListShown {
public:
    ListShown() = default;
    virtual ~ListShown() = default;
    ListShown(const ListShown &) = delete;
    ListShown &operator=(const ListShown &) = delete;

    // The whole list (an intake's or the catalogue's); null before one.
    virtual SoundList shownItems() const = 0;
    // The rows shown when they are a part of it (a find, an answer).
    virtual SoundList shownMatches() const = 0;
    // rows shown in place of the list, each with its value in the column
    // valuesKey, until Escape or a find brings the list back.
    virtual void showAnswer(SoundList rows, const char *valuesKey, std::unordered_map<std::uint32_t, double> values)
        = 0;
    // The list again, as the find field has it.
    virtual void showFound() = 0;
    // Asks once about deleting records; kept: see Controller::deleteRecords.
    virtual void askToDelete(std::vector<SoundRecord> records, std::vector<KeptSound> kept) = 0;
    // More of the rows' sounds are analysed.
    virtual void analysed() = 0;

    // The record names the file at path now (moved, renamed, restored).
    virtual void recordMoved(const SoundRecord &record, const std::string &path) = 0;
    // The record back among the rows, and in the whole list, where it was
    // (-1: not there).
    virtual void putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt) = 0;
    // The records' files are gone: every row of those files goes.
    virtual void removeRecords(const std::vector<SoundRecord> &records) = 0;
    // The list's count and title may have changed.
    virtual void listChanged() = 0;
    // The record of the sound loaded to play, or else of the current row.
    virtual SoundRecord soundHeard() const = 0;
    // The sound loaded to play (null: none), and where it is, in seconds.
    virtual SoundPtr loadedSound() const = 0;
    virtual double playedSeconds() const = 0;

    // A list of the catalogue's, named name, shown in place of the list
    // (the intake under way, if any, stopped first by stopIntake), with
    // the sound at path current (or else the first).
    virtual void showCatalogueList(SoundList list, std::string name, const std::optional<std::string> &current) = 0;
    virtual void stopIntake() = 0;
    // The check of the folder shown found changes: the list takes them.
    // False when they are not of the list shown.
    virtual bool takeCheck(Catalogue::Listener::Changes changes) = 0;
};

} // namespace auralist
