#include <algorithm>
#include <unordered_map>

#include "core/controller.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

QString quotedName(const SoundRecord &record)
{
    const auto name = record.value("name");
    return TableController::displayText(name ? *name : std::string_view());
}

std::string notDeleted(const SoundRecord &record, const std::string &why)
{
    return "\xe2\x80\x9c" + quotedName(record).toStdString() + "\xe2\x80\x9d was not deleted: " + why;
}

} // namespace

void Controller::deleteSelected()
{
    if (m_deleteOpen)
        return;
    deleteRecords(m_tableController.allSelectedItems());
}

void Controller::deleteRecords(std::vector<SoundRecord> records, std::vector<KeptSound> sounds)
{
    if (m_deleteOpen || records.empty())
        return;
    const bool trash = m_options.moveToTrash();
    QString message;
    QString detail;
    if (records.size() == 1) {
        message = QStringLiteral("Are you sure you want to delete %1?").arg(quotedName(records.front()));
        detail = trash ? QStringLiteral("The file is moved to the Trash.")
                       : QStringLiteral("The file is removed from the disk. This cannot be undone.");
    } else {
        message = QStringLiteral("Are you sure you want to delete these %1 sounds?").arg(records.size());
        // The names, as many as a question can show, then what deleting does.
        constexpr size_t kNamesShown = 12;
        for (size_t i = 0; i < records.size() && i < kNamesShown; ++i)
            detail += quotedName(records[i]) + QLatin1Char('\n');
        if (records.size() > kNamesShown)
            detail += QStringLiteral("\u2026and %1 more\n").arg(records.size() - kNamesShown);
        detail += QLatin1Char('\n')
            + (trash ? QStringLiteral("The files are moved to the Trash.")
                     : QStringLiteral("The files are removed from the disk. This cannot be undone."));
    }
    // What the question is about is noted now: on approval only those very
    // files or links are removed.
    m_deleteRecords = std::move(records);
    m_deleteSounds = std::move(sounds);
    m_deleteIdentities.clear();
    for (const SoundRecord &record : m_deleteRecords) {
        const auto path = record.value("path");
        m_deleteIdentities.push_back(path ? m_fs.identify(std::string(*path)) : std::nullopt);
    }
    stop();
    m_deleteOpen = true;
    m_view.showDeletePanel(message, detail);
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
    const std::vector<SoundRecord> asked = std::move(m_deleteRecords);
    const std::vector<std::optional<FileIdentity>> identities = std::move(m_deleteIdentities);
    const std::vector<KeptSound> sounds = std::move(m_deleteSounds);
    m_deleteRecords.clear();
    m_deleteIdentities.clear();
    m_deleteSounds.clear();

    if (returnCode == 1 && sounds.size() == asked.size() && !sounds.empty()) {
        // Copies found by their audio: each, and the file kept in its
        // place, is heard to hold that audio still, right before it goes.
        std::vector<FileStep> steps;
        std::unordered_map<std::string, std::size_t> keptStep;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            FileStep step;
            step.kind = FileStep::Kind::CheckSound;
            step.path = std::string(asked[i].value("path").value_or(std::string_view()));
            step.audio = sounds[i].audio;
            steps.push_back(step);
        }
        for (const KeptSound &sound : sounds) {
            if (keptStep.try_emplace(sound.path, steps.size()).second) {
                FileStep step;
                step.kind = FileStep::Kind::CheckSound;
                step.path = sound.path;
                step.audio = sound.audio;
                steps.push_back(step);
            }
        }
        if (!m_jobs.available()) {
            std::vector<std::optional<std::string>> refused;
            refused.reserve(asked.size());
            for (const SoundRecord &record : asked)
                refused.emplace_back(notDeleted(record, "its sound cannot be checked."));
            deleteApproved(asked, identities, refused);
            play();
            return;
        }
        m_jobs.run(QStringLiteral("Checking"), std::move(steps),
                   [this, asked, identities, sounds, keptStep](std::vector<FileResult> results) {
                       std::vector<std::optional<std::string>> refused(asked.size());
                       for (std::size_t i = 0; i < asked.size(); ++i) {
                           const std::size_t k = keptStep.at(sounds[i].path);
                           if (i >= results.size() || k >= results.size())
                               refused[i] = notDeleted(asked[i], "its sound could not be checked.");
                           else if (results[i].status == FileResult::Status::Cancelled)
                               refused[i] = notDeleted(asked[i], "its check was stopped.");
                           else if (results[i].status != FileResult::Status::Done)
                               refused[i] = notDeleted(asked[i], results[i].error);
                           else if (results[k].status != FileResult::Status::Done)
                               refused[i] = notDeleted(asked[i], "the sound kept in its place is no longer the same.");
                       }
                       deleteApproved(asked, identities, refused);
                   });
    } else if (returnCode == 1) {
        deleteApproved(asked, identities, std::vector<std::optional<std::string>>(asked.size()));
    }
    play();
}

void Controller::deleteApproved(const std::vector<SoundRecord> &asked,
                                const std::vector<std::optional<FileIdentity>> &identities,
                                const std::vector<std::optional<std::string>> &refused)
{
    std::vector<std::string> refusals;
    m_trashed.clear();
    for (size_t i = 0; i < asked.size(); ++i) {
        if (refused[i]) {
            refusals.push_back(*refused[i]);
            continue;
        }
        // Only what is still listed: a row gone since is not touched.
        if (m_tableController.rowOf(asked[i]) < 0)
            continue;
        if (auto refusal = deleteAsked(asked[i], identities[i]))
            refusals.push_back(std::move(*refusal));
    }
    // What went to the Trash can come back from it.
    m_triage.remember(std::make_unique<TrashChange>(std::move(m_trashed)));
    m_trashed.clear();
    if (!refusals.empty()) {
        std::string text;
        for (const std::string &r : refusals)
            text += (text.empty() ? "" : "\n") + r;
        tellUser(text);
    }
    updateTitle();
}

std::optional<std::string> Controller::deleteAsked(const SoundRecord &record,
                                                   const std::optional<FileIdentity> &identity)
{
    const auto pathValue = record.value("path");
    if (!pathValue)
        return std::nullopt;
    const std::string path(*pathValue);
    const std::string name = quotedName(record).toStdString();
    if (!identity) {
        // Already gone when asked: the row goes, as after a deletion.
        m_desktop.noteFileSystemChanged(path);
        removeDeletedRecord(record);
        return std::nullopt;
    }
    const RemovalResult result = m_fs.removeFile(path, *identity, m_options.moveToTrash());
    if (result.status == RemovalResult::Status::Removed && !result.trashedAs.empty()) {
        if (const auto stamp = m_fs.stamp(result.trashedAs)) {
            ChangedFile item = ChangedFile::of(record, path, result.trashedAs, *stamp);
            item.trashInfo = result.trashInfo;
            item.shownAt = m_tableController.rowOf(record);
            if (wholeListApart())
                item.listedAt = m_items->positionOf(record.index());
            m_trashed.push_back(std::move(item));
        }
    }
    switch (result.status) {
    case RemovalResult::Status::Removed:
    case RemovalResult::Status::Gone:
        m_desktop.noteFileSystemChanged(path);
        removeDeletedRecord(record);
        return std::nullopt;
    case RemovalResult::Status::IsFolder:
        return "\xe2\x80\x9c" + name + "\xe2\x80\x9d is a folder. Folders are not deleted from Auralist.";
    case RemovalResult::Status::Changed:
        return "\xe2\x80\x9c" + name
            + "\xe2\x80\x9d was not deleted: it has been replaced or moved since you were asked.";
    case RemovalResult::Status::Failed: break;
    }
    return "\xe2\x80\x9c" + name + "\xe2\x80\x9d could not be "
        + (m_options.moveToTrash() ? "moved to the Trash" : "deleted") + ": " + result.error;
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
    if (wholeListApart()) {
        m_items->removePath(path);
        ++m_itemsVersion;
    }
    m_tableController.removeItemsWithPath(path);
}

} // namespace auralist
