#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "core/services.h"

namespace auralist {

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) { }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    // Gives the descriptor up to the caller, who closes it.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// What stat says of a file, as a stamp to tell it again by.
inline FileStamp stampOf(const struct stat &st)
{
    return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::int64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The folder part and the name part of a path.
inline std::pair<std::string, std::string> splitPath(const std::string &path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return {".", trimmed};
    if (slash == 0)
        return {"/", trimmed.substr(1)};
    return {trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

} // namespace auralist
