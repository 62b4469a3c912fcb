// Arbitrary bytes written to a file and read as the header pool reads a
// listed sound: facts or a reason, never a crash, a hang or a leaked file
// descriptor, and nothing shown that a cell cannot hold.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "core/header_facts.h"
#include "platform/sound_header_reader.h"
#include "scratch_file.h"

namespace {

int nextFreeDescriptor()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(fd);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = auralist::fuzzing::scratchFileWith(data, size);
    if (path.empty())
        return 0;
    const int before = nextFreeDescriptor();
    auralist::SoundHeaderReader reader;
    std::string error;
    const auralist::HeaderFacts facts = reader.read(path, error);
    if (nextFreeDescriptor() != before)
        std::abort(); // the file was left open
    if (facts.state == auralist::HeaderFacts::State::Failed && error.empty())
        std::abort(); // a failure must say why
    for (const char *key :
         {auralist::kLengthKey, auralist::kFormatKey, auralist::kRateKey, auralist::kChannelsKey, auralist::kSizeKey}) {
        if (auralist::factText(facts, key).size() > 40)
            std::abort();
    }
    return 0;
}
