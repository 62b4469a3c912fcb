#pragma once

#include <sndfile.h>
#include <sys/types.h>

#include <mutex>
#include <string>

namespace auralist {

// Whether path names a regular file (following a final link); when it does
// not, error says why, for the user. Only a look, no opening.
bool isRegularFile(const std::string &path, std::string &error);

// Why an item of this mode cannot be played: null for a regular file.
const char *notRegularFileReason(mode_t mode);

// Whether what libsndfile read from a header is something the player can
// play; when not, error says why.
bool isPlayableInfo(const SF_INFO &info, std::string &error);

// libsndfile writes the reason an open failed into process-wide buffers,
// so opens on different threads (player, waveform, header readers) take
// turns: hold this around the open and the reading of sf_strerror(nullptr).
std::mutex &sndfileOpenLock();

// Opens path for decoding when it names a regular file (a FIFO or a device
// would block or never end) that libsndfile reads with a usable format.
// Null otherwise, with the reason in *error when error is given; the
// caller closes what it gets with sf_close.
SNDFILE *openSoundFile(const std::string &path, SF_INFO &info, std::string *error = nullptr);

} // namespace auralist
