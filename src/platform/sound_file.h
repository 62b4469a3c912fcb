#pragma once

#include <sndfile.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
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

// A sound file open for decoding with libsndfile.
//
// libsndfile writes the reason an open failed into process-wide buffers,
// so opens on different threads (player, waveform, header readers) take
// turns at libsndfile's own work. The file is read through our own calls
// (libsndfile's virtual I/O), which let go of that turn while they wait
// for the disk: a header read on a slow disk never holds up the player's
// next open.
class SoundFile {
public:
    // Opens path when it names a regular file (a FIFO or a device would
    // block or never end) that libsndfile reads with a usable format. Null
    // otherwise, with the reason in *error when error is given.
    static std::unique_ptr<SoundFile> open(const std::string &path, std::string *error = nullptr);
    // The same for an open descriptor of a regular file of size bytes,
    // which it takes (and closes, whatever the outcome).
    static std::unique_ptr<SoundFile> adopt(int fd, std::int64_t size, std::string *error = nullptr);

    // A new sound file written to fd (left open) in info's format, or null
    // with the reason in *error.
    static SNDFILE *create(int fd, SF_INFO &info, std::string *error = nullptr);

    ~SoundFile();
    SoundFile(const SoundFile &) = delete;
    SoundFile &operator=(const SoundFile &) = delete;

    SNDFILE *handle() const { return m_file; }
    const SF_INFO &info() const { return m_info; }
    // The file's size in bytes when it was opened.
    std::int64_t size() const { return m_size; }

    // Tests: called before each read made while a file is being opened,
    // to stand in for a slow disk. Set before any thread opens a file.
    static void setOpenReadHook(std::function<void()> hook);

private:
    SoundFile(int fd, std::int64_t size) : m_fd(fd), m_size(size) { }
    static sf_count_t vioLength(void *self);
    static sf_count_t vioSeek(sf_count_t offset, int whence, void *self);
    static sf_count_t vioRead(void *to, sf_count_t count, void *self);
    static sf_count_t vioWrite(const void *from, sf_count_t count, void *self);
    static sf_count_t vioTell(void *self);

    int m_fd;
    std::int64_t m_size;
    std::int64_t m_position = 0;
    // Held while libsndfile works on the open; let go around each read.
    std::unique_lock<std::mutex> *m_openTurn = nullptr;
    SNDFILE *m_file = nullptr;
    SF_INFO m_info{};
};

} // namespace auralist
