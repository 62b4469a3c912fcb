#pragma once

#include <string>

#include "core/services.h"

namespace auralist {

// Reads headers with libsndfile: one open and a few reads per file.
class SoundHeaderReader : public HeaderReader {
public:
    HeaderFacts read(const std::string &path, std::string &error) override;
    HeaderFacts readWithMetadata(const std::string &path, std::string &error, FileMetadata &metadata) override;
};

// The facts libsndfile's format word and the file's size give.
HeaderFacts factsFromInfo(int format, long long frames, int rate, int channels, unsigned long long size);

} // namespace auralist
