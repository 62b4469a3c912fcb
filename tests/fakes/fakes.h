#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/browser_view.h"
#include "core/services.h"
#include "core/table_view.h"

namespace auralist::fakes {

class FakeSound : public Sound {
public:
    explicit FakeSound(std::string path) : path(std::move(path)) { }
    void setDelegate(SoundDelegate *d) override { delegate = d; }
    void play() override
    {
        playing = true;
        ++plays;
    }
    void playFrom(double seconds) override
    {
        startedAt = seconds;
        play();
    }
    double startedAt = 0;
    void stop() override { playing = false; }
    bool isPlaying() const override { return playing; }
    void setLooping(bool on) override { looping = on; }
    void seekTo(double seconds) override { seeks.push_back(seconds); }
    void setRegion(double start, double end) override { region = {start, end}; }
    std::pair<double, double> region{0, 0};
    std::string path;
    bool looping = false;
    std::vector<double> seeks;
    SoundDelegate *delegate = nullptr;
    bool playing = false;
    int plays = 0;
};

class FakeEngine : public SoundEngine {
public:
    SoundPtr load(const std::string &path) override
    {
        loads.push_back(path);
        if (unloadable.count(path)) {
            error = "File contains data in an unknown format.";
            return nullptr;
        }
        auto s = std::make_shared<FakeSound>(path);
        last = s;
        return s;
    }
    std::vector<std::string> soundUnfilteredFileTypes() const override { return types; }
    std::string lastLoadError() const override { return error; }
    void setVolume(double v) override { volume = v; }
    void prepareNext(const SoundPtr &, const std::string &path) override { prepared.push_back(path); }
    std::vector<std::string> prepared;
    double volume = -1;
    // Ends the last sound as the engine would, played to its end.
    void finishLast(bool finished = true)
    {
        auto s = last;
        s->playing = false;
        if (s->delegate)
            s->delegate->soundDidFinishPlaying(s, finished);
    }
    std::vector<std::string> types{"aiff", "wav", "AIFF"};
    std::set<std::string> unloadable;
    std::string error;
    std::vector<std::string> loads;
    std::shared_ptr<FakeSound> last;
};

class FakeDesktop : public Desktop {
public:
    bool openUrl(const std::string &url) override
    {
        opened.push_back(url);
        return true;
    }
    void noteFileSystemChanged(const std::string &path) override { changed.push_back(path); }
    void showInFolder(const std::vector<std::string> &paths) override { shown = paths; }
    void copyPaths(const std::vector<std::string> &paths) override { copied = paths; }
    std::vector<std::string> shown;
    std::vector<std::string> copied;
    std::vector<std::string> opened;
    std::vector<std::string> changed;
};

class FakeAlerts : public Alerts {
public:
    int runAlert(const std::string &title, const std::string &message, const std::string &def,
                 const std::string &alt) override
    {
        shown.push_back({title, message, def, alt});
        return answer;
    }
    struct Alert {
        std::string title, message, defaultButton, alternateButton;
    };
    std::vector<Alert> shown;
    int answer = 1;
};

class FakeSettings : public Settings {
public:
    std::optional<std::string> value(const std::string &key) const override
    {
        auto it = values.find(key);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    void setValue(const std::string &key, const std::string &v) override { values[key] = v; }
    bool sync() override
    {
        ++syncs;
        return !failSync;
    }
    std::map<std::string, std::string> values;
    int syncs = 0;
    bool failSync = false;
};

class FakeHttp : public Http {
public:
    std::optional<std::string> get(const std::string &url) override
    {
        requests.push_back(url);
        return body;
    }
    std::optional<std::string> body;
    std::vector<std::string> requests;
};

class FakeClock : public Clock {
public:
    std::time_t now() const override { return time; }
    std::time_t time = 1700000000;
};

class FakeTableView : public TableView {
public:
    int selectedColumn() const override { return column; }
    std::vector<int> selectedRowIndexes() const override { return std::vector<int>(rows.begin(), rows.end()); }
    int selectedRow() const override { return current; }
    void selectRow(int row) override
    {
        const bool changed = rows != std::set<int>{row};
        rows = {row};
        current = row;
        if (changed && onChange)
            onChange();
    }
    void scrollRowToVisible(int) override { }
    void setSelectedRows(const std::vector<int> &r, int c) override
    {
        rows = std::set<int>(r.begin(), r.end());
        current = c;
    }
    void setSortIndicator(int c, bool ascending) override
    {
        sortColumn = c;
        sortAscending = ascending;
    }
    void setDoubleAction(std::function<void()> a) override { doubleAction = std::move(a); }
    int sortColumn = -1;
    bool sortAscending = true;
    int column = -1;
    std::set<int> rows;
    int current = -1;
    std::function<void()> onChange;
    std::function<void()> doubleAction;
};

class FakeView : public BrowserView {
public:
    Rect windowFrame() const override { return frame; }
    void setWindowFrame(const Rect &f) override { frame = f; }
    Rect availableScreen() const override { return screen; }
    Rect scrollViewFrame() const override { return scroll; }
    void setScrollViewFrameSize(double w, double h) override
    {
        scroll.width = w;
        scroll.height = h;
    }
    void display() override { }
    void setLabelText(const QString &t) override { label = t; }
    void setWindowTitle(const QString &t) override { title = t; }
    QString title;
    void displayLabel() override { }
    void setTrackName(const QString &t) override { trackName = t; }
    void setLoopLabel(const QString &t) override { loopLabel = t; }
    void setTimeText(const QString &t) override { timeText = t; }
    void showWaveform(const std::string &path) override { waveform = path; }
    void setPlayhead(double s, double, bool p) override
    {
        playhead = s;
        playheadMoving = p;
    }
    std::string waveform;
    double playhead = 0;
    bool playheadMoving = false;
    QString findText() const override { return find; }
    void setTableCanDrop(bool c) override { canDrop = c; }
    void makeTableFirstResponder() override { firstResponder = true; }
    void showDeletePanel(const QString &m, const QString &d) override
    {
        panelMessage = m;
        panelDetail = d;
        panelOpen = true;
    }
    void setBrowserVisible(bool v) override { browserVisible = v; }
    void hideDeletePanel() override { panelOpen = false; }
    void terminate() override { terminated = true; }
    Rect frame{100, 500, 600, 75};
    Rect screen{0, 0, 1280, 900};
    Rect scroll{0, 40, 600, 30};
    QString label = "drop here", trackName, loopLabel = "Track:", find, panelMessage, panelDetail, timeText;
    bool browserVisible = false;
    bool canDrop = false, firstResponder = false, panelOpen = false, terminated = false;
};

} // namespace auralist::fakes
