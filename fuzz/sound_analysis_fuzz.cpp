// Arbitrary bytes written to a file and analysed: a result or a reason,
// never a crash, a hang or a value that is not a number where one is shown.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/analyse.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = auralist::fuzzing::scratchFileWith(data, size);
    if (path.empty())
        return 0;
    // A header may claim any length: a bounded number of blocks keeps a
    // generator of silence from running forever.
    int blocks = 0;
    const auto a = auralist::analysis::analyseFile(path, [&blocks] { return ++blocks > 256; });
    if (a.ok) {
        if (std::isinf(a.loudness) || std::isinf(a.peak) || std::isinf(a.bpm) || a.note < -1 || a.note > 127)
            std::abort();
        if (!std::isnan(a.bpm) && (a.bpm < 70 || a.bpm >= 200))
            std::abort();
    }
    return 0;
}
