#pragma once

#include <functional>

#include "core/services.h"
#include "core/setting.h"

namespace auralist {

// The switches and the level the user sets from the menus and the transport,
// each kept in the settings at once.
//
// Threads: the window's.
class Options {
public:
    // changed(setting) follows each switch turned.
    Options(Settings &settings, SoundEngine &engine, std::function<void(const Setting<bool> &)> changed)
        : m_settings(settings), m_engine(engine), m_changed(std::move(changed))
    {
    }

    // Plays at once the row the user selects (off by default).
    bool playOnSelect() const { return valueOf(m_settings, settings::kPlayOnSelect); }
    void setPlayOnSelect(bool on) { set(settings::kPlayOnSelect, on); }
    // A sound that cannot be loaded while playing through is passed over
    // for the next row (off by default).
    bool skipUnplayable() const { return valueOf(m_settings, settings::kSkipUnplayable); }
    void setSkipUnplayable(bool on) { set(settings::kSkipUnplayable, on); }
    // A sound that ends is followed by the next row (on by default); off,
    // each sound plays once and the selection stays.
    bool autoAdvance() const { return valueOf(m_settings, settings::kAutoAdvance); }
    void setAutoAdvance(bool on) { set(settings::kAutoAdvance, on); }
    // Deleted sounds go to the Trash rather than off the disk.
    bool moveToTrash() const { return valueOf(m_settings, settings::kMoveToTrash); }
    void setMoveToTrash(bool on) { set(settings::kMoveToTrash, on); }
    // Plain words of the find field are found in the folder names, tags
    // and descriptions too, not just the names.
    bool searchAllText() const { return valueOf(m_settings, settings::kSearchAllText); }
    void setSearchAllText(bool on) { set(settings::kSearchAllText, on); }
    // The level of playback, 0 to 100 (100 by default), told to the engine.
    int volume() const;
    void setVolume(int volume);

private:
    void set(const Setting<bool> &setting, bool on);

    Settings &m_settings;
    SoundEngine &m_engine;
    std::function<void(const Setting<bool> &)> m_changed;
};

} // namespace auralist
