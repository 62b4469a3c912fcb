#include "core/deletion.h"

#include <algorithm>
#include <unordered_map>

#include "core/browser_view.h"
#include "core/file_jobs.h"
#include "core/list_shown.h"
#include "core/options.h"
#include "core/table_controller.h"
#include "core/triage_feature.h"

namespace auralist {

namespace {

QString quotedName(const SoundRecord &record)
{
    const auto name = record.value("name");
    return displayText(name ? *name : std::string_view());
}

std::string notDeleted(const SoundRecord &record, const std::string &why)
{
    return "\xe2\x80\x9c" + quotedName(record).toStdString() + "\xe2\x80\x9d was not deleted: " + why;
}

} // namespace

Deletion::Deletion(const Services &services, ListShown &list, TableController &table, BrowserView &view,
                   std::function<void()> stop, std::function<void()> play)
    : m_fs(services.fileSystem),
      m_desktop(services.desktop),
      m_alerts(services.alerts),
      m_jobs(services.jobs),
      m_options(services.options),
      m_triage(services.triage),
      m_list(list),
      m_table(table),
      m_view(view),
      m_stop(std::move(stop)),
      m_play(std::move(play))
{
}

void Deletion::ask(std::vector<SoundRecord> records, std::vector<KeptSound> sounds)
{
    if (busy() || records.empty())
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
    m_records = std::move(records);
    m_sounds = std::move(sounds);
    m_identities.clear();
    for (const SoundRecord &record : m_records)
        m_identities.push_back(m_fs.identify(record.path()));
    m_stop();
    m_open = true;
    m_view.showDeletePanel(message, detail);
}

void Deletion::tellUser(const std::string &message)
{
    m_alerts.runAlert("Delete", message, "OK", "");
}

void Deletion::answer(int returnCode)
{
    if (!m_open)
        return;
    m_open = false;
    const std::vector<SoundRecord> asked = std::move(m_records);
    const std::vector<std::optional<FileIdentity>> identities = std::move(m_identities);
    const std::vector<KeptSound> sounds = std::move(m_sounds);
    m_records.clear();
    m_identities.clear();
    m_sounds.clear();

    if (returnCode == 1 && sounds.size() == asked.size() && !sounds.empty()) {
        // Copies found by their audio: each, and the file kept in its
        // place, is heard to hold that audio still, right before it goes.
        std::vector<FileStep> steps;
        std::unordered_map<std::string, std::size_t> keptStep;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            FileStep step;
            step.kind = FileStep::Kind::CheckSound;
            step.path = asked[i].path();
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
            approved(asked, identities, refused);
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
                       approved(asked, identities, refused);
                   });
        return;
    }
    if (returnCode == 1) {
        approved(asked, identities, std::vector<std::optional<std::string>>(asked.size()));
        return;
    }
    m_play();
}

void Deletion::approved(const std::vector<SoundRecord> &asked,
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
    const std::vector<std::ptrdiff_t> rows = m_table.items()->positionsOf(indexes);
    PathSet paths;
    for (size_t i = 0; i < asked.size(); ++i) {
        if (refused[i]) {
            refusals.push_back(*refused[i]);
            continue;
        }
        // Only what is still listed, and each file once: a row gone since
        // is not touched.
        const bool listed = asked[i].store() == m_table.items()->store().get() && rows[i] >= 0;
        if (!listed || !paths.emplace(asked[i].path()).second)
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
        finished(refusals);
        return;
    }
    m_deleting = true;
    m_jobs.run(trash ? QStringLiteral("Moving to the Trash") : QStringLiteral("Deleting"), std::move(steps),
               [this, going, refusals, trash](const std::vector<FileResult> &results) mutable {
                   removedAll(going, results, trash, refusals);
                   finished(refusals);
               });
}

void Deletion::removedAll(const std::vector<SoundRecord> &going, const std::vector<FileResult> &results, bool trash,
                          std::vector<std::string> &refusals)
{
    // Where each row was before any left, in one pass over the rows shown
    // and one over the whole list.
    std::vector<std::uint32_t> indexes;
    indexes.reserve(going.size());
    for (const SoundRecord &record : going)
        indexes.push_back(record.index());
    const std::vector<std::ptrdiff_t> shownAt = m_table.items()->positionsOf(indexes);
    const SoundList whole = m_list.shownItems();
    const bool apart = whole && whole != m_table.items();
    const std::vector<std::ptrdiff_t> listedAt
        = apart ? whole->positionsOf(indexes) : std::vector<std::ptrdiff_t>(going.size(), -1);
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
    m_list.removeRecords(gone);
    // What went to the Trash can come back from it.
    m_triage.remember(std::make_unique<TrashChange>(std::move(trashed)));
}

void Deletion::finished(const std::vector<std::string> &refusals)
{
    m_deleting = false;
    if (!refusals.empty()) {
        std::string text;
        for (const std::string &r : refusals)
            text += (text.empty() ? "" : "\n") + r;
        tellUser(text);
    }
    m_list.listChanged();
    m_play();
    m_view.hideDeletePanel();
}

std::optional<std::string> Deletion::refusalOf(const SoundRecord &record, const FileResult &result, bool trash)
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

} // namespace auralist
