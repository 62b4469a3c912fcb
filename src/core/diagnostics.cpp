#include "core/diagnostics.h"

#include <cstdlib>

namespace auralist {

void Diagnostics::line(std::string_view text)
{
    line({}, text);
}

void Diagnostics::line(std::string_view prefix, std::string_view text)
{
    // One line at a time under the stream's lock: the scanner thread writes
    // its lines to the same stream.
    ::flockfile(m_out);
    if (!prefix.empty())
        std::fwrite(prefix.data(), 1, prefix.size(), m_out);
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), m_out);
    std::fputc('\n', m_out);
    ::funlockfile(m_out);
    std::fflush(m_out);
}

void debugLog(std::string_view text)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in Auralist sets the environment
    static const bool enabled = std::getenv("AURALIST_DEBUG") != nullptr;
    if (!enabled)
        return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

} // namespace auralist
