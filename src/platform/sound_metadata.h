#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "core/records.h"

namespace auralist {

// What the open file says of itself: Broadcast WAV's description,
// originator and date; RIFF INFO (and AIFF, FLAC and Ogg comments as
// libsndfile gives them) title, artist, comment, software, date, genre;
// the instrument chunk's root note; an ACID chunk's tempo and root note;
// iXML's note, project, scene and take; and, where the file holds one (an
// MP3, or a WAV with an "id3 " chunk), the ID3v2 tag's, through TagLib.
// Every chunk is hostile input: lengths are bounded, text without an end
// is cut, text that is not UTF-8 is taken as Latin-1, control characters
// go.
FileMetadata readFileMetadata(SNDFILE *file, int format, const std::string &path);

// Text from a file made safe to show: valid UTF-8 (Latin-1 where it is not
// UTF-8), no control characters but line breaks, trimmed, at most most
// bytes (cut at a character).
std::string cleanMetadataText(std::string_view raw, std::size_t most);

} // namespace auralist
