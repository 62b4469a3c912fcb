#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/file_type.h"
#include "core/list_shown.h"
#include "core/table_controller.h"

namespace auralist::fakes {

// The list a controller would show, written down: the table's rows are the
// list, and what the features ask of it is counted.
struct FakeList : ListShown {
    explicit FakeList(TableController &t) : table(t) { }
    TableController &table;
    SoundList items;
    SoundList matches;
    std::string valuesKey;
    int found = 0;
    int analysedTold = 0;
    int listChanges = 0;
    std::vector<SoundRecord> asked;
    std::vector<KeptSound> kept;
    SoundPtr sound;
    SoundRecord heard;
    double seconds = 0;

    SoundList shownItems() const override { return items; }
    SoundList shownMatches() const override { return matches; }
    void showAnswer(SoundList rows, const char *key, std::unordered_map<std::uint32_t, double> values) override
    {
        matches = rows;
        valuesKey = key;
        table.setItems(rows);
        table.setListValues(key, std::move(values));
    }
    void showFound() override { ++found; }
    void askToDelete(std::vector<SoundRecord> records, std::vector<KeptSound> k) override
    {
        asked = std::move(records);
        kept = std::move(k);
    }
    void analysed() override { ++analysedTold; }
    void recordMoved(const SoundRecord &record, const std::string &path) override
    {
        record.setValue("path", path);
        record.setValue("name", std::string(lastPathComponent(path)));
        table.recordsChanged();
    }
    void putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t) override
    {
        table.insertRow(static_cast<int>(shownAt), record.index());
    }
    void removeRecords(const std::vector<SoundRecord> &records) override
    {
        PathSet paths;
        for (const SoundRecord &r : records)
            paths.emplace(r.path());
        table.removeItemsWithPaths(paths);
    }
    void listChanged() override { ++listChanges; }
    SoundRecord soundHeard() const override { return heard; }
    SoundPtr loadedSound() const override { return sound; }
    double playedSeconds() const override { return seconds; }
    void showCatalogueList(SoundList list, std::string name, const std::optional<std::string> &current) override
    {
        items = list;
        matches = list;
        table.setItems(list);
        shownName = std::move(name);
        shownCurrent = current;
    }
    void stopIntake() override { ++intakesStopped; }
    bool takeCheck(Catalogue::Listener::Changes changes) override
    {
        checks.push_back(std::move(changes));
        return true;
    }
    std::string shownName;
    std::optional<std::string> shownCurrent;
    int intakesStopped = 0;
    std::vector<Catalogue::Listener::Changes> checks;
};

} // namespace auralist::fakes
