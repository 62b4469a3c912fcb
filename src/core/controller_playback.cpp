#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/setting.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

// 3.25 s -> "0:03.2"
QString clockText(double seconds)
{
    const auto tenths = static_cast<long long>(std::floor(std::max(0.0, seconds) * 10.0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
    return QString::fromLatin1(text);
}

} // namespace

void Controller::setSound(SoundPtr sound)
{
    SoundPtr previous = std::move(m_state.sound);
    if (previous)
        previous->stop();
    m_state.sound = std::move(sound);
    m_position = 0;
    if (!m_state.sound) {
        m_soundRecord = {};
        m_view.setTimeText(QString());
        m_view.setPlayhead(0, 0, false);
        m_tableController.setPlayingItem({});
        updateWaveform();
    }
}

void Controller::updateWaveform()
{
    SoundRecord shown = m_state.sound && m_state.sound->isPlaying() ? m_soundRecord : SoundRecord();
    if (!shown && currentTrackInRows())
        shown = (*m_tableController.items())[static_cast<size_t>(m_state.currentTrack)];
    m_triage.soundShown(shown);
    m_view.showWaveform(shown ? shown.path() : std::string());
}

void Controller::playFrom(double seconds)
{
    seconds = std::max(0.0, seconds);
    if (m_state.sound && m_state.sound->isPlaying()) {
        m_state.sound->seekTo(seconds);
        return;
    }
    m_state.playModeOn = true;
    m_startAt = seconds;
    playCurrentTrack();
    m_startAt = 0;
}

void Controller::selectRow(int row)
{
    const bool was = m_selecting;
    m_selecting = true;
    m_tableController.selectItemAtIndex(row);
    m_selecting = was;
}

void Controller::queueNextTrack()
{
    if (!m_state.sound || !m_state.sound->isPlaying())
        return;
    std::string path;
    if (m_state.playModeOn && !m_state.isLooping && m_options.autoAdvance() && m_state.currentTrack >= 0
        && m_state.currentTrack + 1 < m_tableController.rowCount()) {
        const SoundRecord record = (*m_tableController.items())[static_cast<size_t>(m_state.currentTrack) + 1];
        path = record.path();
    }
    m_engine.prepareNext(m_state.sound, path);
}

void Controller::playCurrentTrack()
{
    // A sound that cannot be loaded is marked in the list. The run stops
    // there, unless the user asked to skip such sounds while playing
    // through: then the next row is tried, once each, up to the last.
    for (;;) {
        // The rows may have shrunk under currentTrack (a filter, a deletion)
        // or a double-click may have found no selection: never read outside them.
        if (!currentTrackInRows()) {
            justStop();
            return;
        }
        const SoundRecord record = (*m_tableController.items())[static_cast<size_t>(m_state.currentTrack)];
        const std::string path = record.path();
        m_view.setTrackName(displayText(std::string(lastPathComponent(path))));
        setSound(path.empty() ? nullptr : m_engine.load(path));
        if (m_state.sound) {
            m_soundRecord = record;
            m_triage.soundLoaded(record, *m_state.sound);
            m_state.sound->setDelegate(this);
            m_soundLevelKnown = false;
            tellSoundLevel();
            m_state.sound->setLooping(m_state.isLooping);
            if (m_startAt > 0)
                m_state.sound->playFrom(m_startAt);
            else
                m_state.sound->play();
            m_tableController.setPlayingItem(record);
            m_library.played(record);
            queueNextTrack();
            updateWaveform();
            return;
        }
        if (!couldNotLoad(record, path, path.empty() ? std::string("It has no path.") : m_engine.lastLoadError()))
            return;
    }
}

bool Controller::couldNotLoad(const SoundRecord &record, const std::string &path, const std::string &reason)
{
    m_diagnostics.line("unable to load sound ", path);
    m_tableController.markUnplayable(record, reason);
    m_tableController.setPlayingItem({});
    if (!m_state.playModeOn || !m_options.skipUnplayable())
        return false;
    if (m_state.currentTrack + 1 >= m_tableController.rowCount()) {
        justStop();
        return false;
    }
    ++m_state.currentTrack;
    selectRow(m_state.currentTrack);
    return true;
}

void Controller::soundDidFailToLoad(const SoundPtr &sound, const std::string &reason)
{
    if (sound != m_state.sound || !m_soundRecord)
        return;
    const SoundRecord record = m_soundRecord;
    const std::string path = record.path();
    setSound(nullptr);
    if (couldNotLoad(record, path, reason))
        playCurrentTrack();
}

void Controller::soundPositionChanged(const SoundPtr &sound, double seconds, double length)
{
    if (sound != m_state.sound)
        return;
    m_position = seconds;
    m_view.setTimeText(clockText(seconds) + QStringLiteral(" / ") + clockText(length));
    m_view.setPlayhead(seconds, length, true);
}

void Controller::seekBy(double seconds)
{
    if (m_state.sound && m_state.sound->isPlaying())
        m_state.sound->seekTo(std::max(0.0, m_position + seconds));
}

void Controller::play()
{
    m_state.playModeOn = true;
    if (m_tableController.rowCount() == 0)
        return;
    if (!currentTrackInRows()) {
        justStop();
        return;
    }
    selectRow(m_state.currentTrack);
    playCurrentTrack();
}

void Controller::stop()
{
    m_state.playModeOn = false;
    justStop();
}

void Controller::justStop()
{
    if (m_state.sound)
        m_state.sound->stop();
    setSound(nullptr);
}

void Controller::next()
{
    ++m_state.currentTrack;
    if (m_state.currentTrack >= m_tableController.rowCount()) {
        --m_state.currentTrack;
        justStop();
        return;
    }
    if (m_state.currentTrack < 0) {
        // Only reachable from -1 with an empty selection; nothing to play.
        justStop();
        return;
    }
    selectRow(m_state.currentTrack);
    if (m_state.playModeOn)
        playCurrentTrack();
}

void Controller::previous()
{
    --m_state.currentTrack;
    if (m_state.currentTrack < 0) {
        ++m_state.currentTrack;
        justStop();
        return;
    }
    if (m_state.currentTrack >= m_tableController.rowCount()) {
        justStop();
        return;
    }
    selectRow(m_state.currentTrack);
    if (m_state.playModeOn)
        playCurrentTrack();
}

void Controller::home()
{
    stop();
    m_state.currentTrack = 0;
    if (m_tableController.rowCount() == 0)
        return;
    selectRow(0);
    m_state.playModeOn = true;
    playCurrentTrack();
}

void Controller::end()
{
    stop();
    if (m_tableController.rowCount() == 0)
        return;
    m_state.currentTrack = m_tableController.rowCount() - 1;
    selectRow(m_state.currentTrack);
    m_state.playModeOn = true;
    playCurrentTrack();
}

void Controller::toggleLooping()
{
    m_state.isLooping = !m_state.isLooping;
    m_view.setLoopLabel(m_state.isLooping ? QStringLiteral("Loop:") : QStringLiteral("Track:"));
    if (m_state.sound)
        m_state.sound->setLooping(m_state.isLooping);
    queueNextTrack();
}

void Controller::tableControllerSelectedItems(TableController &, const std::vector<SoundRecord> &)
{
    m_state.currentTrack = m_tableController.selectedItemIndex();
    // The user's own choice of row plays at once when asked to; the rows
    // the controller selects itself are played by whoever selected them.
    if (!m_selecting && m_options.playOnSelect() && currentTrackInRows()) {
        m_state.playModeOn = true;
        playCurrentTrack();
        return;
    }
    queueNextTrack();
    updateWaveform();
}

void Controller::doubleClick(TableController &)
{
    stop();
    m_state.playModeOn = true;
    m_state.currentTrack = m_tableController.selectedItemIndex();
    playCurrentTrack();
}

void Controller::keyDown(int key)
{
    m_diagnostics.line("keycode = " + std::to_string(key));
    if (key == kSpaceBarKey) {
        if (m_state.sound && m_state.sound->isPlaying())
            stop();
        else
            play();
    } else if (key == kDeleteKey) {
        deleteSelected();
    } else if (key == Qt::Key_Escape) {
        m_analysis.returnToList();
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // As a double-click does.
        doubleClick(m_tableController);
    }
}

void Controller::soundDidFinishPlaying(const SoundPtr &sound, bool finished)
{
    m_diagnostics.line(finished ? "done" : "failed");
    if (sound == m_state.sound && !m_state.sound->isPlaying()) {
        m_view.setPlayhead(0, 0, false);
        m_tableController.setPlayingItem({});
        updateWaveform();
    }
    if (!finished || !m_state.playModeOn || sound != m_state.sound)
        return;
    if (m_state.isLooping) {
        // A looping sound goes on by itself, without a gap; only a sound
        // that has stopped is started again.
        if (!m_state.sound->isPlaying())
            playCurrentTrack();
        return;
    }
    // Played once: the selection stays on it, for the user to judge.
    if (!m_options.autoAdvance())
        return;
    next();
}

void Controller::tellSoundLevel()
{
    // A sound that started before the analysis knew it (at the gain of
    // its first seconds) takes the whole sound's level once it is known.
    if (!m_state.sound || m_soundLevelKnown || !m_soundRecord)
        return;
    const SoundTraits &traits = m_soundRecord.store()->traits(m_soundRecord.index());
    if (traits.state != SoundTraits::State::Analysed)
        return;
    m_soundLevelKnown = true;
    m_state.sound->setLevel(traits.loudness, traits.peak);
}

} // namespace auralist
