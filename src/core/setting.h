#pragma once

#include <optional>
#include <string>

#include "core/services.h"

namespace auralist {

// A setting kept by the Settings service: its key in the settings file and
// what it is when nothing is kept, or what is kept cannot be read as one.
// The file keeps text (booleans as "true" and "false", "1" and "0" read
// too; numbers as C writes them), as files written before hold it.
template <class T> struct Setting {
    const char *key;
    T byDefault;
};

// A text setting: nothing when none is kept.
struct TextSetting {
    const char *key;
};

// Every setting the program keeps, with its type and default.
namespace settings {

// Playback
inline constexpr Setting<bool> kAutoAdvance{"autoAdvance", true};
inline constexpr Setting<bool> kPlayOnSelect{"playOnSelect", false};
inline constexpr Setting<bool> kSkipUnplayable{"skipUnplayable", false};
inline constexpr Setting<int> kVolume{"volume", 100}; // percent, 0 to 100
// Deletion
inline constexpr Setting<bool> kMoveToTrash{"moveToTrash", false};
// Finding
inline constexpr Setting<bool> kSearchAllText{"searchAllText", false};
// Analysis
inline constexpr Setting<bool> kAnalyseSounds{"analyseSounds", true};
inline constexpr Setting<bool> kMatchLoudness{"matchLoudness", false};
inline constexpr Setting<double> kLoudnessTarget{"loudnessTarget", -20.0}; // LUFS, -70 to 0
inline constexpr Setting<bool> kSimilarEverywhere{"similarEverywhere", false};
// The library
inline constexpr Setting<bool> kReopenLast{"reopenLast", true};
inline constexpr TextSetting kLastShownList{"lastShownList"}; // "folder", "favourites", ...
inline constexpr TextSetting kLastShown{"lastShown"}; // the folder of a folder's list
inline constexpr TextSetting kLastSound{"lastSound"}; // the path of the sound last current
// Triage
inline constexpr TextSetting kDestinations{"destinations"}; // a URI list, one folder a line
// The window
inline constexpr TextSetting kWindowSize{"windowSize"}; // "WIDTHxHEIGHT"
inline constexpr TextSetting kTableColumns{"tableColumns"}; // the header's state, base64
inline constexpr TextSetting kWaveformSplit{"waveformSplit"}; // a splitter's state, base64
inline constexpr TextSetting kLibrarySplit{"librarySplit"}; // a splitter's state, base64
inline constexpr TextSetting kSortColumn{"sortColumn"}; // a column's key
inline constexpr Setting<bool> kSortAscending{"sortAscending", true};
inline constexpr TextSetting kOpenFolder{"openFolder"}; // where Open Folder starts
inline constexpr Setting<bool> kNormaliseWaveform{"normaliseWaveform", true};
inline constexpr Setting<bool> kShowLibrary{"showLibrary", true};
// Updates
inline constexpr TextSetting kLastUpdateCheck{"lastUpdateCheck"}; // a date, as the updater writes it

} // namespace settings

bool valueOf(const Settings &store, const Setting<bool> &setting);
// The leading whole number of what is kept, as std::stoi reads it.
int valueOf(const Settings &store, const Setting<int> &setting);
// A finite number, else the default.
double valueOf(const Settings &store, const Setting<double> &setting);
std::optional<std::string> valueOf(const Settings &store, const TextSetting &setting);

void keep(Settings &store, const Setting<bool> &setting, bool value);
void keep(Settings &store, const Setting<int> &setting, int value);
void keep(Settings &store, const TextSetting &setting, const std::string &value);

} // namespace auralist
