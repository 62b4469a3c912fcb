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
    if (m_deleteOpen || m_deleting)
        return;
    deleteRecords(m_tableController.allSelectedItems());
}

void Controller::deleteRecords(std::vector<SoundRecord> records, std::vector<KeptSound> sounds)
{
    if (m_deleteOpen || m_deleting || records.empty())
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
    if (m_deleting)
        return;
    sheetDidEnd(0);
    m_view.hideDeletePanel();
}

void Controller::approveDelete()
{
    if (m_deleting)
        return;
    // The deletion ends (the files gone, the rows gone, playback, the panel
    // hidden) once the file worker says the files are gone.
    sheetDidEnd(1);
    if (!m_deleting)
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
            return;
        }
        m_deleting = true;
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
        return;
    }
    if (returnCode == 1) {
        deleteApproved(asked, identities, std::vector<std::optional<std::string>>(asked.size()));
        return;
    }
    play();
}

void Controller::deleteApproved(const std::vector<SoundRecord> &asked,
                                const std::vector<std::optional<FileIdentity>> &identities,
                                const std::vector<std::optional<std::string>> &refused)
{
    std::vector<std::string> refusals;
    std::vector<SoundRecord> going;
    std::vector<FileStep> steps;
    const bool trash = m_options.moveToTrash();
    std::vector<std::uint32_t> indexes;
    indexes.reserve(asked.size());
    for (const SoundRecord &record : asked)
        indexes.push_back(record.index());
    const std::vector<std::ptrdiff_t> rows = m_tableController.items()->positionsOf(indexes);
    PathSet paths;
    for (size_t i = 0; i < asked.size(); ++i) {
        if (refused[i]) {
            refusals.push_back(*refused[i]);
            continue;
        }
        // Only what is still listed, and each file once: a row gone since
        // is not touched.
        const bool listed = asked[i].store() == m_tableController.items()->store().get() && rows[i] >= 0;
        if (!listed || !asked[i].value("path") || !paths.emplace(asked[i].path()).second)
            continue;
        FileStep step = FileStep::of(FileStep::Kind::Remove, std::string(asked[i].path()), {});
        step.identity = identities[i];
        step.toTrash = trash;
        steps.push_back(std::move(step));
        going.push_back(asked[i]);
    }
    if (steps.empty() || !m_jobs.available()) {
        if (!steps.empty())
            refusals.emplace_back("The files cannot be deleted now.");
        deleted(refusals);
        return;
    }
    m_deleting = true;
    m_jobs.run(trash ? QStringLiteral("Moving to the Trash") : QStringLiteral("Deleting"), std::move(steps),
               [this, going, refusals, trash](const std::vector<FileResult> &results) mutable {
                   removedAll(going, results, trash, refusals);
                   deleted(refusals);
               });
}

void Controller::removedAll(const std::vector<SoundRecord> &going, const std::vector<FileResult> &results, bool trash,
                            std::vector<std::string> &refusals)
{
    // Where each row was before any left, in one pass over the rows shown
    // and one over the whole list.
    std::vector<std::uint32_t> indexes;
    indexes.reserve(going.size());
    for (const SoundRecord &record : going)
        indexes.push_back(record.index());
    const std::vector<std::ptrdiff_t> shownAt = m_tableController.items()->positionsOf(indexes);
    const std::vector<std::ptrdiff_t> listedAt
        = wholeListApart() ? m_items->positionsOf(indexes) : std::vector<std::ptrdiff_t>(going.size(), -1);
    std::vector<ChangedFile> trashed;
    std::vector<std::size_t> left; // of going, in the order they leave
    for (std::size_t i = 0; i < going.size(); ++i) {
        const SoundRecord &record = going[i];
        const FileResult *result = i < results.size() ? &results[i] : nullptr;
        if (!result) {
            refusals.push_back(notDeleted(record, "it was not reached."));
            continue;
        }
        if (result->status == FileResult::Status::Done && !result->made.empty()) {
            ChangedFile item = ChangedFile::of(record, std::string(record.path()), result->made, result->stamp);
            item.trashInfo = result->trashInfo;
            // Undo puts the rows back the last to leave first: each is
            // where it was once those that left before it had gone.
            const auto before = [&](const std::vector<std::ptrdiff_t> &at) {
                std::ptrdiff_t n = 0;
                for (const std::size_t k : left)
                    n += at[k] >= 0 && at[k] < at[i] ? 1 : 0;
                return at[i] < 0 ? -1 : at[i] - n;
            };
            item.shownAt = before(shownAt);
            item.listedAt = before(listedAt);
            trashed.push_back(std::move(item));
        }
        if (auto refusal = refusalOf(record, *result, trash))
            refusals.push_back(std::move(*refusal));
        else
            left.push_back(i);
    }
    std::vector<SoundRecord> gone;
    gone.reserve(left.size());
    for (const std::size_t i : left) {
        m_desktop.noteFileSystemChanged(std::string(going[i].path()));
        gone.push_back(going[i]);
    }
    removeDeletedRecords(gone);
    // What went to the Trash can come back from it.
    m_triage.remember(std::make_unique<TrashChange>(std::move(trashed)));
}

void Controller::deleted(const std::vector<std::string> &refusals)
{
    m_deleting = false;
    if (!refusals.empty()) {
        std::string text;
        for (const std::string &r : refusals)
            text += (text.empty() ? "" : "\n") + r;
        tellUser(text);
    }
    updateTitle();
    play();
    m_view.hideDeletePanel();
}

std::optional<std::string> Controller::refusalOf(const SoundRecord &record, const FileResult &result, bool trash)
{
    const std::string name = quotedName(record).toStdString();
    if (result.status == FileResult::Status::Cancelled)
        return notDeleted(record, "the deletion was stopped.");
    switch (result.removal) {
    case RemovalResult::Status::Removed:
    case RemovalResult::Status::Gone: return std::nullopt;
    case RemovalResult::Status::IsFolder:
        return "\xe2\x80\x9c" + name + "\xe2\x80\x9d is a folder. Folders are not deleted from Auralist.";
    case RemovalResult::Status::Changed:
        return "\xe2\x80\x9c" + name
            + "\xe2\x80\x9d was not deleted: it has been replaced or moved since you were asked.";
    case RemovalResult::Status::Failed: break;
    }
    return "\xe2\x80\x9c" + name + "\xe2\x80\x9d could not be " + (trash ? "moved to the Trash" : "deleted") + ": "
        + result.error;
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
        m_items->removePaths(paths);
        ++m_itemsVersion;
    }
    m_tableController.removeItemsWithPaths(paths);
}

} // namespace auralist
