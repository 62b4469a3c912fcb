#include "core/diagnostics.h"

#include <cstdlib>
#include <string>

namespace auralist {

void Diagnostics::line(std::string_view text)
{
    line({}, text);
}

void Diagnostics::line(std::string_view prefix, std::string_view text)
{
    // One whole line at a time: the scanner thread writes its lines to the
    // same output.
    std::string whole;
    whole.reserve(prefix.size() + text.size() + 1);
    whole.append(prefix);
    whole.append(text);
    whole.push_back('\n');
    m_output.write(whole);
    m_output.flush();
}

void Diagnostics::lines(std::string_view block)
{
    if (block.empty())
        return;
    m_output.write(block);
    m_output.flush();
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
