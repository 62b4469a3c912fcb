#pragma once

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/services.h"

namespace auralist::fakes {

// A catalogue that writes down what it is asked and answers only when the
// test makes it, through its listeners.
class FakeCatalogue : public Catalogue {
public:
    void addListener(Listener *l) override { listeners.push_back(l); }
    void removeListener(Listener *l) override { std::erase(listeners, l); }
    void recordIntake(const std::vector<std::string> &roots, const RecordStorePtr &) override
    {
        intakes.push_back(roots);
    }
    void recordFacts(const RecordStorePtr &, const std::vector<FactsResult> &) override { }
    void recordAnalysis(const RecordStorePtr &, std::vector<AnalysisResult>) override { }
    void requestAnalyses(std::uint64_t, const RecordStorePtr &) override { }
    void saveSearch(const std::string &name, const std::string &query) override { saved.emplace_back(name, query); }
    void renameSearch(std::int64_t id, const std::string &name) override { renamed.emplace_back(id, name); }
    void removeSearch(std::int64_t id) override { removed.push_back(id); }
    void moveSounds(std::vector<std::pair<std::string, std::string>> m) override
    {
        moves.insert(moves.end(), m.begin(), m.end());
    }
    void setFavourite(std::vector<std::string> paths, bool on) override { favourites.emplace_back(paths, on); }
    void setTags(std::vector<std::string> paths, std::string t) override { tags.emplace_back(paths, t); }
    void notePlayed(const std::string &path) override { played.push_back(path); }
    void requestList(std::uint64_t request, ListKind kind, const std::string &folder) override
    {
        lists.emplace_back(request, kind, folder);
    }
    void checkList(std::uint64_t request, const std::string &folder, std::vector<std::string>) override
    {
        checks.emplace_back(request, folder);
    }
    void forget(const std::string &folder, bool goneOnly) override { forgotten.emplace_back(folder, goneOnly); }
    void exportMarks(const std::string &, Done done) override { done(true, {}); }
    void importMarks(const std::string &, Done done) override { done(true, {}); }

    template <typename F> void tell(F f)
    {
        const std::vector<Listener *> now = listeners;
        for (Listener *l : now)
            f(*l);
    }

    std::vector<Listener *> listeners;
    std::vector<std::vector<std::string>> intakes;
    std::vector<std::pair<std::string, std::string>> saved;
    std::vector<std::pair<std::int64_t, std::string>> renamed;
    std::vector<std::int64_t> removed;
    std::vector<std::pair<std::string, std::string>> moves;
    std::vector<std::pair<std::vector<std::string>, bool>> favourites;
    std::vector<std::pair<std::vector<std::string>, std::string>> tags;
    std::vector<std::string> played;
    std::vector<std::tuple<std::uint64_t, ListKind, std::string>> lists;
    std::vector<std::pair<std::uint64_t, std::string>> checks;
    std::vector<std::pair<std::string, bool>> forgotten;
};

} // namespace auralist::fakes
