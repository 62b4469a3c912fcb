// Arbitrary bytes written to a file and read as the header pool reads a
// listed sound: facts or a reason, never a crash, a hang or a leaked file
// descriptor, and nothing shown that a cell cannot hold; the metadata
// inside the file bounded and clean.
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
    auralist::FileMetadata metadata;
    const auralist::HeaderFacts facts = reader.readWithMetadata(path, error, metadata);
    if (nextFreeDescriptor() != before)
        std::abort(); // the file was left open
    if (facts.state == auralist::HeaderFacts::State::Failed && error.empty())
        std::abort(); // a failure must say why
    for (const char *key :
         {auralist::kLengthKey, auralist::kFormatKey, auralist::kRateKey, auralist::kChannelsKey, auralist::kSizeKey}) {
        if (auralist::factText(facts, key).size() > 40)
            std::abort();
    }
    // What the file says of itself is bounded and holds no control
    // characters but line breaks.
    if (metadata.description.size() > 2048 || metadata.text.size() > 8192 + 2048)
        std::abort();
    for (const std::string *text : {&metadata.description, &metadata.text}) {
        for (const char c : *text) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F)
                std::abort();
        }
    }
    if (!(metadata.bpm >= 0 && metadata.bpm < 1000) || metadata.rootNote < -1)
        std::abort();
    return 0;
}
