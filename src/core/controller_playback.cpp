#include <string>

#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_type.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

constexpr const char *kSkipUnplayableKey = "skipUnplayable";

} // namespace

void Controller::setSound(SoundPtr sound)
{
    SoundPtr previous = std::move(m_sound);
    if (previous)
        previous->stop();
    m_sound = std::move(sound);
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
        const SoundRecord record = (*m_tableController.items())[static_cast<size_t>(m_currentTrack)];
        const std::string *pathValue = record->value("path");
        const std::string path = pathValue ? *pathValue : std::string();
        m_view.setTrackName(TableController::displayText(std::string(lastPathComponent(path))));
        setSound(path.empty() ? nullptr : m_engine.load(path));
        if (m_sound) {
            m_sound->setDelegate(this);
            m_sound->play();
            return;
        }
        m_diagnostics.line("unable to load sound ", path);
        m_tableController.markUnplayable(record, path.empty() ? std::string("It has no path.") : m_engine.lastLoadError());
        if (!m_playModeOn || !skipUnplayable())
            return;
        if (m_currentTrack + 1 >= rowCount()) {
            justStop();
            return;
        }
        ++m_currentTrack;
        m_tableController.selectItemAtIndex(m_currentTrack);
    }
}

bool Controller::skipUnplayable() const
{
    return settingIsOn(kSkipUnplayableKey);
}

void Controller::setSkipUnplayable(bool on)
{
    setSettingOn(kSkipUnplayableKey, on);
}

void Controller::play()
{
    m_playModeOn = true;
    if (rowCount() == 0)
        return;
    if (!currentTrackInRows()) {
        justStop();
        return;
    }
    m_tableController.selectItemAtIndex(m_currentTrack);
    playCurrentTrack();
}

void Controller::stop()
{
    m_playModeOn = false;
    justStop();
}

void Controller::justStop()
{
    if (m_sound)
        m_sound->stop();
    setSound(nullptr);
}

void Controller::next()
{
    ++m_currentTrack;
    if (m_currentTrack >= rowCount()) {
        --m_currentTrack;
        justStop();
        return;
    }
    if (m_currentTrack < 0) {
        // Only reachable from -1 with an empty selection; nothing to play.
        justStop();
        return;
    }
    m_tableController.selectItemAtIndex(m_currentTrack);
    if (m_playModeOn)
        playCurrentTrack();
}

void Controller::previous()
{
    --m_currentTrack;
    if (m_currentTrack < 0) {
        ++m_currentTrack;
        justStop();
        return;
    }
    if (m_currentTrack >= rowCount()) {
        justStop();
        return;
    }
    m_tableController.selectItemAtIndex(m_currentTrack);
    if (m_playModeOn)
        playCurrentTrack();
}

void Controller::home()
{
    stop();
    m_currentTrack = 0;
    if (rowCount() == 0)
        return;
    m_tableController.selectItemAtIndex(0);
    m_playModeOn = true;
    playCurrentTrack();
}

void Controller::end()
{
    stop();
    if (rowCount() == 0)
        return;
    m_currentTrack = rowCount() - 1;
    m_tableController.selectItemAtIndex(m_currentTrack);
    m_playModeOn = true;
    playCurrentTrack();
}

void Controller::toggleLooping()
{
    m_isLooping = !m_isLooping;
    m_view.setLoopLabel(m_isLooping ? QStringLiteral("Loop:") : QStringLiteral("Track:"));
}

void Controller::tableControllerSelectedItems(TableController &, const std::vector<SoundRecord> &)
{
    m_currentTrack = m_tableController.selectedItemIndex();
}

void Controller::doubleClick(TableController &)
{
    stop();
    m_playModeOn = true;
    m_currentTrack = m_tableController.selectedItemIndex();
    playCurrentTrack();
}

void Controller::keyDown(int key)
{
    m_diagnostics.line("keycode = " + std::to_string(key));
    if (key == kSpaceBarKey) {
        if (m_sound && m_sound->isPlaying())
            stop();
        else
            play();
    } else if (key == kDeleteKey) {
        deleteSelected();
    }
}

void Controller::soundDidFinishPlaying(const SoundPtr &sound, bool finished)
{
    m_diagnostics.line(finished ? "done" : "failed");
    if (!finished || !m_playModeOn || sound != m_sound)
        return;
    if (m_isLooping)
        playCurrentTrack();
    else
        next();
}

} // namespace auralist
