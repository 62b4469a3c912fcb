#include <algorithm>

#include "core/controller.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

constexpr const char *kMoveToTrashKey = "moveToTrash";

QString quotedName(const SoundRecord &record)
{
    const auto name = record.value("name");
    return TableController::displayText(name ? *name : std::string_view());
}

} // namespace

bool Controller::moveToTrash() const
{
    return settingIsOn(kMoveToTrashKey);
}

void Controller::setMoveToTrash(bool on)
{
    setSettingOn(kMoveToTrashKey, on);
}

void Controller::deleteSelected()
{
    if (m_deleteOpen)
        return;
    const SoundRecord record = m_tableController.selectedItem();
    if (!record)
        return;
    const QString message = QStringLiteral("Are you sure you want to delete %1?").arg(quotedName(record));
    m_deleteRecord = record;
    // What the question is about is noted now: on approval only that very
    // file or link is removed.
    const auto path = record.value("path");
    m_deleteIdentity = path ? m_fs.identify(std::string(*path)) : std::nullopt;
    stop();
    m_deleteOpen = true;
    m_view.showDeletePanel(message,
                           moveToTrash() ? QStringLiteral("The file is moved to the Trash.")
                                         : QStringLiteral("The file is removed from the disk."));
}

void Controller::cancelDelete()
{
    sheetDidEnd(0);
    m_view.hideDeletePanel();
}

void Controller::approveDelete()
{
    sheetDidEnd(1);
    m_view.hideDeletePanel();
}

void Controller::tellUser(const std::string &message)
{
    m_alerts.runAlert("Delete", message, "OK", "");
}

void Controller::sheetDidEnd(int returnCode)
{
    if (!m_deleteOpen)
        return;
    m_deleteOpen = false;
    const SoundRecord asked = std::move(m_deleteRecord);
    const std::optional<FileIdentity> identity = m_deleteIdentity;
    m_deleteRecord = {};
    m_deleteIdentity.reset();

    if (returnCode == 1) {
        const SoundRecord record = m_tableController.selectedItem();
        const auto pathValue = record ? record.value("path") : std::nullopt;
        if (record && record == asked && pathValue) {
            const std::string path(*pathValue);
            const std::string name = quotedName(record).toStdString();
            if (!identity) {
                // Already gone when asked: the row goes, as after a deletion.
                m_desktop.noteFileSystemChanged(path);
                removeDeletedRecord(record);
            } else {
                const RemovalResult result = m_fs.removeFile(path, *identity, moveToTrash());
                switch (result.status) {
                case RemovalResult::Status::Removed:
                case RemovalResult::Status::Gone:
                    m_desktop.noteFileSystemChanged(path);
                    removeDeletedRecord(record);
                    break;
                case RemovalResult::Status::IsFolder:
                    tellUser("\xe2\x80\x9c" + name
                             + "\xe2\x80\x9d is a folder. Folders are not deleted from Auralist.");
                    break;
                case RemovalResult::Status::Changed:
                    tellUser("\xe2\x80\x9c" + name
                             + "\xe2\x80\x9d was not deleted: it has been replaced or moved since you were asked.");
                    break;
                case RemovalResult::Status::Failed:
                    tellUser("\xe2\x80\x9c" + name + "\xe2\x80\x9d could not be "
                             + (moveToTrash() ? "moved to the Trash" : "deleted") + ": " + result.error);
                    break;
                }
            }
        }
    }
    play();
}

void Controller::removeDeletedRecord(const SoundRecord &record)
{
    // Every record of the file actually deleted leaves the rows (a file
    // taken in twice has two), and the sound list too, so that none shows
    // again; records of other files stay, however alike.
    const auto pathValue = record.value("path");
    if (!pathValue) {
        m_tableController.removeItem(record);
        return;
    }
    const std::string path(*pathValue);
    if (m_items && m_items != m_tableController.items()) {
        m_items->removePath(path);
        ++m_itemsVersion;
    }
    m_tableController.removeItemsWithPath(path);
    queueNextTrack();
}

} // namespace auralist
