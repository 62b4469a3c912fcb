#include <algorithm>
#include <unordered_map>

#include "core/controller.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

void Controller::deleteSelected()
{
    if (!m_deletion.busy())
        m_deletion.ask(m_tableController.allSelectedItems());
}

void Controller::cancelDelete()
{
    if (m_deletion.deleting())
        return;
    sheetDidEnd(0);
    m_view.hideDeletePanel();
}

void Controller::approveDelete()
{
    if (m_deletion.deleting())
        return;
    // The deletion ends (the files gone, the rows gone, playback, the panel
    // hidden) once the file worker says the files are gone.
    sheetDidEnd(1);
    if (!m_deletion.deleting())
        m_view.hideDeletePanel();
}

void Controller::sheetDidEnd(int returnCode)
{
    m_deletion.answer(returnCode);
}

void Controller::removeDeletedRecords(const std::vector<SoundRecord> &records)
{
    // Every record of a file actually deleted leaves the rows (a file
    // taken in twice has two), and the sound list too, so that none shows
    // again; records of other files stay, however alike. One pass each,
    // however many files went.
    PathSet paths;
    for (const SoundRecord &record : records) {
        if (record.value("path"))
            paths.emplace(record.path());
        else
            m_tableController.removeItem(record);
    }
    if (paths.empty())
        return;
    if (wholeListApart()) {
        m_state.items->removePaths(paths);
        ++m_itemsVersion;
    }
    m_tableController.removeItemsWithPaths(paths);
}

} // namespace auralist
