#include <algorithm>
#include <unordered_set>

#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/folder_scan.h"
#include "core/table_controller.h"

namespace auralist {

bool Controller::acceptsDroppedFilesIn(const std::vector<std::string> &paths)
{
    (void)paths;
    return true;
}

void Controller::droppedFilesInWell(const std::vector<std::string> &paths)
{
    if (paths.empty())
        return;
    const std::string &first = paths.front();
    if (m_items &&
        std::any_of(m_items->begin(), m_items->end(), [&](const SoundRecord &r) { return hasPath(*r, first); }))
        return;

    setItems(makeSoundList());
    m_tableController.clearUnplayable();
    m_diagnostics.beginBatch();
    appendFilesAndFolders(paths, true);
    m_diagnostics.endBatch();
    setItems(m_items);
    m_tableController.reloadData();
    m_currentTrack = 0;
    m_tableController.selectItemAtIndex(0);
    m_view.setLabelText(QString());
    play();
}

bool Controller::applicationOpenFile(const std::string &path)
{
    if (m_fs.kindOf(path) == EntryKind::None)
        return false;
    droppedFilesInWell({path});
    return true;
}

void Controller::openFiles(const std::vector<std::string> &paths)
{
    std::vector<std::string> existing;
    std::copy_if(paths.begin(), paths.end(), std::back_inserter(existing),
                 [&](const std::string &p) { return m_fs.kindOf(p) != EntryKind::None; });
    if (existing.empty())
        return;
    droppedFilesInWell(existing);
}

std::vector<std::string> Controller::supportedSoundTypes() const
{
    return m_engine.soundUnfilteredFileTypes();
}

void Controller::appendFilesAndFolders(const std::vector<std::string> &paths, bool scanFolders)
{
    // The engine's list is the same on every call, so one set serves the
    // whole call.
    const std::vector<std::string> types = supportedSoundTypes();
    const std::unordered_set<std::string> supported(types.begin(), types.end());
    if (!m_items)
        setItems(makeSoundList());
    for (const std::string &path : paths) {
        if (scanFolders && m_fs.kindOf(path) == EntryKind::Directory) {
            const std::vector<std::string> below = subpathsAtPath(m_fs, path);
            printStrings(below);
            appendFilesAndFolders(below, false);
            continue;
        }
        const std::string type = pathFileType(path, m_fs);
        if (type.empty())
            continue;
        m_diagnostics.line("format: ", type);
        if (supported.count(type) != 0)
            m_items->push_back(makeSoundRecord(path));
    }
}

void Controller::printStrings(const std::vector<std::string> &strings)
{
    for (const std::string &s : strings)
        m_diagnostics.line(s);
}

} // namespace auralist
