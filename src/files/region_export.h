#pragma once

#include <cstdint>
#include <string>

#include "core/services.h"
#include "files/file_ops.h"

namespace auralist::files {

// The name of a region's file: the source's stem with the region's start
// and end in seconds ("Take 3 1.250-2.500s.wav").
std::string regionFileName(const std::string &sourceName, double start, double end, bool flac);

// Frames first to last (inclusive) of source, written as a new file in
// folder: in the source's format, rate, channels and sample type where it
// is WAV, AIFF or FLAC, and as FLAC where the source is compressed. The
// frames are copied as they are decoded, without conversion.
FileResult exportRegion(const std::string &source, std::int64_t first, std::int64_t last, const std::string &folder,
                        const Hooks &hooks = {});

} // namespace auralist::files
