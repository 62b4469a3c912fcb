#include "core/triage_feature.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <numeric>

#include <QDir>
#include <QStandardPaths>

#include "core/browser_view.h"
#include "core/file_jobs.h"
#include "core/file_type.h"
#include "core/list_shown.h"
#include "core/setting.h"
#include "core/string_utils.h"
#include "core/table_controller.h"
#include "core/uri_list.h"

namespace auralist {

namespace {

std::string nameOf(const std::string &path)
{
    return std::string(lastPathComponent(path));
}

QString shown(const std::string &bytes)
{
    return displayText(bytes);
}

QString countOf(std::size_t n, const char *one, const char *many)
{
    return QString::fromStdString(groupedDigits(n)) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

// A CSV cell, quoted when it holds a comma, a quote or a line break. One that a spreadsheet would take for a formula
// (it begins with =, +, -, @, a tab or a carriage return) is written as text, after an apostrophe.
std::string csvField(std::string s)
{
    if (!s.empty() && std::string_view("=+-@\t\r").find(s.front()) != std::string_view::npos)
        s.insert(s.begin(), '\'');
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

// Where regions made for dragging out are written:
// $XDG_CACHE_HOME/Auralist/regions (made if need be); empty when it cannot be.
std::string regionCacheFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString folder = cache + QStringLiteral("/Auralist/regions");
    if (!QDir().mkpath(folder))
        return {};
    return QFile::encodeName(folder).toStdString();
}

} // namespace

TriageFeature::TriageFeature(const Services &services, ListShown &list, TableController &table, BrowserView &view)
    : m_fs(services.fileSystem),
      m_desktop(services.desktop),
      m_settings(services.settings),
      m_jobs(services.jobs),
      m_catalogue(services.catalogue),
      m_listenedTo(services.catalogue),
      m_list(list),
      m_table(table),
      m_view(view),
      m_changes([this] { m_view.setUndoTitles(m_changes.undoTitle(), m_changes.redoTitle()); })
{
    if (m_listenedTo)
        m_listenedTo->addListener(this);
}

TriageFeature::~TriageFeature()
{
    if (m_listenedTo)
        m_listenedTo->removeListener(this);
}

void TriageFeature::catalogueProblem(Catalogue::Problem problem, const std::string &)
{
    if (problem == Catalogue::Problem::Unavailable)
        m_catalogue = nullptr;
}

std::vector<std::string> TriageFeature::destinations() const
{
    const auto value = valueOf(m_settings, settings::kDestinations);
    if (!value)
        return {};
    std::vector<std::string> folders = pathsFromUriList(*value);
    if (folders.size() > kMostDestinations)
        folders.resize(kMostDestinations);
    return folders;
}

void TriageFeature::setDestinations(const std::vector<std::string> &folders)
{
    std::vector<std::string> kept;
    for (const std::string &f : folders) {
        if (!f.empty() && kept.size() < kMostDestinations && std::find(kept.begin(), kept.end(), f) == kept.end())
            kept.push_back(f);
    }
    keep(m_settings, settings::kDestinations, uriListForPaths(kept));
    m_settings.sync();
}

void TriageFeature::editDestinations()
{
    if (const auto folders = m_view.askForDestinations(destinations()))
        setDestinations(*folders);
}

void TriageFeature::sendToDestination(std::size_t n, bool move)
{
    const std::vector<std::string> folders = destinations();
    if (n >= folders.size()) {
        m_view.setStatusText(
            QStringLiteral("No destination %1: set it with Edit \u25b8 Destinations\u2026").arg(n + 1));
        return;
    }
    const std::vector<SoundRecord> selected = m_table.allSelectedItems();
    if (selected.empty() || !m_jobs.available())
        return;
    const std::string &folder = folders[n];
    std::vector<FileStep> steps;
    steps.reserve(selected.size());
    for (const SoundRecord &r : selected)
        steps.push_back(
            FileStep::of(move ? FileStep::Kind::MoveInto : FileStep::Kind::CopyInto, std::string(r.path()), folder));
    m_jobs.run(move ? QStringLiteral("Moving") : QStringLiteral("Copying"), steps,
               [this, selected, steps, folder, move](std::vector<FileResult> results) {
                   std::vector<ChangedFile> changed;
                   std::vector<std::string> problems;
                   std::vector<std::pair<std::string, std::string>> moves;
                   for (std::size_t i = 0; i < results.size() && i < selected.size(); ++i) {
                       const FileResult &r = results[i];
                       if (!r.error.empty())
                           problems.push_back(r.error);
                       if (r.status == FileResult::Status::Cancelled && problems.empty())
                           problems.emplace_back("Stopped: the rest were left where they are.");
                       if (r.status != FileResult::Status::Done || r.made == steps[i].path)
                           continue;
                       changed.push_back(ChangedFile::of(selected[i], steps[i].path, r.made, r.stamp));
                       m_desktop.noteFileSystemChanged(r.made);
                       if (move) {
                           m_list.recordMoved(selected[i], r.made);
                           moves.emplace_back(steps[i].path, r.made);
                       }
                   }
                   if (m_catalogue && !moves.empty())
                       m_catalogue->moveSounds(std::move(moves));
                   const std::size_t done = changed.size();
                   m_changes.push(std::make_unique<FileChange>(move ? FileChange::Kind::Move : FileChange::Kind::Copy,
                                                               folder, std::move(changed)));
                   m_view.setStatusText((move ? QStringLiteral("Moved ") : QStringLiteral("Copied "))
                                        + countOf(done, "sound", "sounds") + QStringLiteral(" to ")
                                        + shown(nameOf(folder)));
                   m_jobs.tellProblems(move ? QStringLiteral("Move") : QStringLiteral("Copy"), problems);
               });
}

void TriageFeature::renameRecord(const SoundRecord &record, const std::string &newName)
{
    if (!record || !m_jobs.available())
        return;
    const std::string path(record.path());
    if (newName == nameOf(path) || newName.empty())
        return;
    m_jobs.run(QStringLiteral("Renaming"), {FileStep::of(FileStep::Kind::Rename, path, newName)},
               [this, record, path](std::vector<FileResult> results) {
                   const FileResult &r = results.front();
                   if (r.status != FileResult::Status::Done) {
                       m_jobs.tellProblems(QStringLiteral("Rename"), {r.error});
                       return;
                   }
                   m_list.recordMoved(record, r.made);
                   m_desktop.noteFileSystemChanged(r.made);
                   if (m_catalogue)
                       m_catalogue->moveSounds({{path, r.made}});
                   m_changes.push(std::make_unique<FileChange>(
                       FileChange::Kind::Rename, std::string(),
                       std::vector<ChangedFile>{ChangedFile::of(record, path, r.made, r.stamp)}));
               });
}

void TriageFeature::setMarks(const std::vector<MarksOf> &marks)
{
    std::vector<std::string> on;
    std::vector<std::string> off;
    std::map<std::string, std::vector<std::string>> byTags;
    for (const MarksOf &m : marks) {
        m.record.setFavourite(m.favourite);
        m.record.setTags(m.tags);
        const std::string path(m.record.path());
        (m.favourite ? on : off).push_back(path);
        byTags[m.tags].push_back(path);
    }
    m_table.recordsChanged();
    if (!m_catalogue)
        return;
    if (!on.empty())
        m_catalogue->setFavourite(std::move(on), true);
    if (!off.empty())
        m_catalogue->setFavourite(std::move(off), false);
    for (auto &[tags, paths] : byTags)
        m_catalogue->setTags(std::move(paths), tags);
}

void TriageFeature::showInFolder()
{
    std::vector<std::string> paths;
    for (const SoundRecord &r : m_table.allSelectedItems())
        paths.emplace_back(r.path());
    if (!paths.empty())
        m_desktop.showInFolder(paths);
}

void TriageFeature::copyPaths()
{
    std::vector<std::string> paths;
    for (const SoundRecord &r : m_table.allSelectedItems())
        paths.emplace_back(r.path());
    if (!paths.empty())
        m_desktop.copyPaths(paths);
}

std::string TriageFeature::exportedList(ListFormat format, std::size_t *leftOut) const
{
    const int rows = m_table.rowCount();
    std::string out;
    if (leftOut)
        *leftOut = 0;
    if (format == ListFormat::M3u) {
        out = "#EXTM3U\n";
        for (int row = 0; row < rows; ++row) {
            const SoundRecord r = (*m_table.items())[static_cast<std::size_t>(row)];
            const std::string path = r.path();
            // A line break would make the rest of the path an entry of
            // its own: such a sound is left out, and said to be.
            if (path.find_first_of("\r\n") != std::string_view::npos) {
                if (leftOut)
                    ++*leftOut;
                continue;
            }
            out += std::string(path) + '\n';
        }
        return out;
    }
    const int columns = m_table.columnCount();
    std::vector<int> visible(static_cast<std::size_t>(std::max(columns, 0)));
    std::iota(visible.begin(), visible.end(), 0);
    std::string line;
    for (const int c : visible)
        line += (line.empty() ? "" : ",")
            + csvField(m_table.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    out += line + (line.empty() ? "path" : ",path") + "\r\n";
    for (int row = 0; row < rows; ++row) {
        line.clear();
        for (const int c : visible)
            line += (line.empty() ? "" : ",")
                + csvField(m_table.data(m_table.index(row, c), Qt::DisplayRole).toString().toStdString());
        const SoundRecord r = (*m_table.items())[static_cast<std::size_t>(row)];
        // The path's own bytes, so that it names the file even where it is
        // not UTF-8.
        out += line + (visible.empty() ? "" : ",") + csvField(std::string(r.path())) + "\r\n";
    }
    return out;
}

void TriageFeature::exportList()
{
    const auto file = m_view.askForListFile();
    if (!file || !m_jobs.available())
        return;
    const bool csv = file->size() >= 4 && std::equal(file->end() - 4, file->end(), ".csv", [](char a, char b) {
                         return std::tolower(static_cast<unsigned char>(a)) == b;
                     });
    const int rows = m_table.rowCount();
    std::size_t leftOut = 0;
    std::string text = exportedList(csv ? ListFormat::Csv : ListFormat::M3u, &leftOut);
    m_jobs.run(QStringLiteral("Writing"), {FileStep::of(FileStep::Kind::WriteText, *file, std::move(text))},
               [this, rows, leftOut, file = *file](std::vector<FileResult> results) {
                   if (results.front().status != FileResult::Status::Done) {
                       m_jobs.tellProblems(QStringLiteral("Export List"), {results.front().error});
                       return;
                   }
                   QString said = QStringLiteral("Exported ")
                       + countOf(static_cast<std::size_t>(rows) - leftOut, "sound", "sounds") + QStringLiteral(" to ")
                       + shown(nameOf(file));
                   if (leftOut > 0)
                       said += QStringLiteral("; ") + countOf(leftOut, "sound", "sounds")
                           + QStringLiteral(" left out (a line break in the name)");
                   m_view.setStatusText(said);
               });
}

std::pair<std::int64_t, std::int64_t> TriageFeature::regionFrames() const
{
    if (!m_region)
        return {0, -1};
    const int rate = m_region->record.facts().rate;
    const std::int64_t length = m_region->record.facts().frames;
    const auto first = static_cast<std::int64_t>(std::llround(m_region->start * rate));
    auto last = static_cast<std::int64_t>(std::llround(m_region->end * rate)) - 1;
    if (length > 0)
        last = std::min(last, length - 1);
    return {first, last};
}

std::optional<std::pair<double, double>> TriageFeature::region() const
{
    if (!m_region)
        return std::nullopt;
    return std::make_pair(m_region->start, m_region->end);
}

void TriageFeature::setRegion(double start, double end)
{
    const SoundRecord record = m_list.soundHeard();
    if (start > end)
        std::swap(start, end);
    const int rate = record ? record.facts().rate : 0;
    if (!record || rate <= 0 || (end - start) * rate < 1) {
        clearRegion();
        return;
    }
    dropRegionFile();
    m_region = Region{record, start, end, {}, {}, false};
    m_view.showRegion(start, end);
    m_view.setRegionFile({});
    if (const SoundPtr sound = m_list.loadedSound(); sound && record == m_list.soundHeard()) {
        sound->setRegion(start, end);
        if (sound->isPlaying())
            sound->playFrom(start);
    }
    const std::string cache = regionCacheFolder();
    if (cache.empty())
        return;
    const auto [first, last] = regionFrames();
    exportRegion(record, first, last, cache, [this, record, start, end](const std::string &path) {
        if (path.empty() || !m_region || !(m_region->record == record) || m_region->start != start
            || m_region->end != end)
            return;
        m_region->file = path;
        m_region->stamp = m_fs.stamp(path).value_or(FileStamp{});
        m_view.setRegionFile(path);
    });
}

// The file made for the region goes (if it is still the one made), unless
// it was dragged out: a program it was dropped on may still read it.
void TriageFeature::dropRegionFile()
{
    if (!m_region || m_region->file.empty() || m_region->handedOn || !m_jobs.available())
        return;
    FileStep s = FileStep::of(FileStep::Kind::RemoveCopy, m_region->file, {});
    s.expected = m_region->stamp;
    m_jobs.runUnseen({s});
}

void TriageFeature::regionDraggedOut()
{
    if (m_region)
        m_region->handedOn = true;
}

void TriageFeature::clearRegion()
{
    if (!m_region)
        return;
    dropRegionFile();
    m_region.reset();
    m_view.showRegion(0, 0);
    m_view.setRegionFile({});
    if (const SoundPtr sound = m_list.loadedSound()) {
        sound->setRegion(0, 0);
        if (sound->isPlaying())
            sound->playFrom(m_list.playedSeconds());
    }
}

void TriageFeature::exportRegionToDestination()
{
    if (!m_region) {
        m_view.setStatusText(QStringLiteral("Select a region first: Shift+drag on the waveform"));
        return;
    }
    const std::vector<std::string> folders = destinations();
    if (folders.empty()) {
        m_view.setStatusText(QStringLiteral("No destination: set one with Edit \u25b8 Destinations\u2026"));
        return;
    }
    const auto [first, last] = regionFrames();
    exportRegion(m_region->record, first, last, folders.front());
}

void TriageFeature::exportRegion(const SoundRecord &record, std::int64_t first, std::int64_t last,
                                 const std::string &folder, std::function<void(const std::string &)> done)
{
    if (!record || !m_jobs.available() || last < first) {
        if (done)
            done({});
        return;
    }
    FileStep s = FileStep::of(FileStep::Kind::ExportRegion, std::string(record.path()), folder);
    s.first = first;
    s.last = last;
    const bool quiet = static_cast<bool>(done);
    m_jobs.run(QStringLiteral("Writing the region of"), {s},
               [this, quiet, done = std::move(done)](std::vector<FileResult> results) {
                   const FileResult &r = results.front();
                   if (r.status != FileResult::Status::Done) {
                       m_jobs.tellProblems(QStringLiteral("Export Region"), {r.error});
                       if (done)
                           done({});
                       return;
                   }
                   m_desktop.noteFileSystemChanged(r.made);
                   if (!quiet)
                       m_view.setStatusText(QStringLiteral("Wrote ") + shown(nameOf(r.made)));
                   if (done)
                       done(r.made);
               });
}

void TriageFeature::soundShown(const SoundRecord &record)
{
    if (m_region && !(m_region->record == record))
        clearRegion();
}

void TriageFeature::soundLoaded(const SoundRecord &record, Sound &sound)
{
    // A region belongs to its sound: another sound has none.
    if (m_region && m_region->record == record)
        sound.setRegion(m_region->start, m_region->end);
    else
        clearRegion();
}

void TriageFeature::runFileSteps(const QString &doing, std::vector<FileStep> steps,
                                 std::function<void(std::vector<FileResult>)> finished)
{
    m_jobs.run(doing, std::move(steps), std::move(finished));
}

void TriageFeature::fileChanged(const std::string &path)
{
    m_desktop.noteFileSystemChanged(path);
}

void TriageFeature::recordNowAt(const SoundRecord &record, const std::string &path)
{
    m_list.recordMoved(record, path);
}

void TriageFeature::soundsMoved(std::vector<std::pair<std::string, std::string>> moves)
{
    if (m_catalogue && !moves.empty())
        m_catalogue->moveSounds(std::move(moves));
}

bool TriageFeature::isShown(const SoundRecord &record) const
{
    return m_table.rowOf(record) >= 0;
}

void TriageFeature::putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt)
{
    m_list.putBack(record, shownAt, listedAt);
}

void TriageFeature::fileGone(const SoundRecord &record)
{
    m_list.removeRecords({record});
}

void TriageFeature::listChanged()
{
    m_list.listChanged();
}

void TriageFeature::tellProblems(const QString &title, const std::vector<std::string> &problems)
{
    m_jobs.tellProblems(title, problems);
}

} // namespace auralist
