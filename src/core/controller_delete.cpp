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

} // namespace auralist
