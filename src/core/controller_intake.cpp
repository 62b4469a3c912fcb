#include <algorithm>
#include <numeric>

#include "core/controller.h"
#include "core/file_type.h"
#include "core/setting.h"
#include "core/string_utils.h"
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
    // A scan still running ends here, as if it had completed with what it
    // had found so far; the new drop is then judged against that list.
    if (m_state.scanning) {
        m_scanner.cancel();
        completeIntake();
    }
    m_intakeNote.clear();
    const std::string &first = paths.front();
    if (m_state.items && m_state.items->containsPath(first))
        return;

    setItems(makeSoundList());
    m_tableController.clearUnplayable();
    m_state.scanning = true;
    m_scanCompleted = false;
    m_library.intakeBegins(paths);
    m_listingName = std::string(lastPathComponent(first));
    if (paths.size() > 1)
        m_listingName += " + " + std::to_string(paths.size() - 1) + " more";
    updateTitle();
    m_scanner.start(++m_scan, paths, m_engine.soundUnfilteredFileTypes(), *this);
}

void Controller::scanBatch(std::uint64_t scan, RecordStore &&batch)
{
    if (!m_state.scanning || scan != m_scan || !m_state.items)
        return;
    RecordStore &store = *m_state.items->store();
    const std::uint32_t first = store.size();
    store.append(std::move(batch));
    std::vector<std::uint32_t> added(store.size() - first);
    std::iota(added.begin(), added.end(), first);
    if (m_tableController.items() == m_state.items)
        m_tableController.appendRows(added);
    else
        m_state.items->rows().insert(m_state.items->rows().end(), added.begin(), added.end());
    ++m_itemsVersion;
    // The count in the title moves a few times a second, not per batch.
    if (!m_titleShown.isValid() || m_titleShown.elapsed() >= 250) {
        updateTitle();
        m_titleShown.start();
    }
}

void Controller::scanFinished(std::uint64_t scan, bool completed)
{
    if (!m_state.scanning || scan != m_scan)
        return;
    m_scanCompleted = completed;
    completeIntake();
}

void Controller::completeIntake()
{
    // A list comes in in the order the user last sorted by; a big one is
    // sorted on the sorter's thread meanwhile.
    const SoundList items = m_state.items;
    m_tableController.applySortThen(items, [this, items, scan = m_scan] {
        if (scan == m_scan && m_state.items == items)
            showIntake();
    });
}

void Controller::showIntake()
{
    m_state.scanning = false;
    setItems(m_state.items);
    m_tableController.reloadData();
    m_reads.readHeaders();
    m_state.currentTrack = 0;
    m_tableController.selectItemAtIndex(0);
    m_view.setLabelText(m_intakeNote);
    m_intakeNote.clear();
    updateTitle();
    // Only a whole intake is remembered: one cut short would forget what
    // it had not reached.
    if (m_scanCompleted && m_state.items)
        m_library.intakeTaken(m_state.items->store());
    m_analysis.start();
    play();
}

void Controller::updateTitle()
{
    // "Drums — 1,234 sounds — Auralist".
    if (m_listingName.empty()) {
        m_view.setWindowTitle(QStringLiteral("Auralist"));
        return;
    }
    const size_t count = m_state.items ? m_state.items->size() : 0;
    const QString dash = QStringLiteral(" \u2014 ");
    QString title = displayText(m_listingName) + dash + QString::fromStdString(groupedDigits(count))
        + (count == 1 ? QStringLiteral(" sound") : QStringLiteral(" sounds"));
    if (m_state.scanning)
        title += QStringLiteral(" so far");
    m_view.setWindowTitle(title + dash + QStringLiteral("Auralist"));
}

bool Controller::applicationOpenFile(const std::string &path)
{
    if (m_fs.kindOf(path) == EntryKind::None)
        return false;
    droppedFilesInWell({path});
    return true;
}

std::vector<std::string> Controller::openFiles(const std::vector<std::string> &paths)
{
    std::vector<std::string> existing;
    std::vector<std::string> missing;
    for (const std::string &p : paths)
        (m_fs.kindOf(p) != EntryKind::None ? existing : missing).push_back(p);
    if (!existing.empty())
        droppedFilesInWell(existing);
    if (!missing.empty()) {
        const QString first = QStringLiteral("\u201c%1\u201d").arg(displayText(missing.front()));
        const QString note = missing.size() == 1
            ? first + QStringLiteral(" does not exist.")
            : first + QStringLiteral(" and %1 more do not exist.").arg(missing.size() - 1);
        m_view.setLabelText(note);
        // Still there once the intake is done.
        m_intakeNote = m_state.scanning ? note : QString();
    }
    return missing;
}

} // namespace auralist
