#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

#include "core/line_output.h"

namespace auralist {

// The diagnostic lines on standard output are part of the interface: tests
// compare them byte for byte. Each line is flushed as it is printed, so a
// reader of a pipe sees every event when it happens. (An intake's many
// lines are written by its scanner, buffered, and flushed at its end.) In
// the application the lines go through a writer thread (QueuedLineOutput),
// so the window never waits for standard output.
class Diagnostics {
public:
    // Writes to out where it is called.
    explicit Diagnostics(std::FILE *out = stdout) : m_owned(std::make_unique<FileLineOutput>(out)), m_output(*m_owned)
    {
    }
    explicit Diagnostics(LineOutput &output) : m_output(output) { }

    // Writes text + "\n".
    void line(std::string_view text);
    // Writes prefix + text + "\n".
    void line(std::string_view prefix, std::string_view text);
    // Writes whole lines at once (each ending in "\n"): many lines at one
    // moment cost one write and one flush.
    void lines(std::string_view block);
    // The same for lines make() returns, made where they are written (off
    // the caller's thread in the application).
    void linesMade(std::function<std::string()> make) { m_output.writeMade(std::move(make)); }

    LineOutput &output() const { return m_output; }

private:
    std::unique_ptr<LineOutput> m_owned;
    LineOutput &m_output;
};

// Developer logging on standard error, off unless AURALIST_DEBUG is set.
void debugLog(std::string_view text);

} // namespace auralist
