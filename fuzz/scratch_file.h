#pragma once

// One scratch file per fuzzing process, rewritten with each input, for
// the targets that read what they test from a file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace auralist::fuzzing {

// The path of the scratch file, holding exactly the given bytes; empty
// when it cannot be written.
inline std::string scratchFileWith(const std::uint8_t *data, std::size_t size)
{
    static const std::string path = [] {
        char templ[] = "/tmp/auralist-fuzz-XXXXXX";
        const int fd = ::mkstemp(templ);
        ::close(fd);
        return std::string(templ);
    }();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return {};
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

} // namespace auralist::fuzzing
