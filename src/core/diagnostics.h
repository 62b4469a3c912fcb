#pragma once

#include <cstdio>
#include <string_view>

namespace auralist {

// The diagnostic lines on standard output are part of the interface: tests
// compare them byte for byte. Each line is flushed as it is printed, so a
// reader of a pipe sees every event when it happens. (An intake's many
// lines are written by its scanner, buffered, and flushed at its end.)
class Diagnostics {
public:
    explicit Diagnostics(std::FILE *out = stdout) : m_out(out) {}

    // Writes text + "\n".
    void line(std::string_view text);
    // Writes prefix + text + "\n".
    void line(std::string_view prefix, std::string_view text);

    std::FILE *stream() const { return m_out; }

private:
    std::FILE *m_out;
};

// Developer logging on standard error, off unless AURALIST_DEBUG is set.
void debugLog(std::string_view text);

} // namespace auralist
