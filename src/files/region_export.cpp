#include "files/region_export.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/descriptor.h"
#include "platform/sound_file.h"

namespace auralist::files {

namespace {

bool isFloatSubtype(int subtype)
{
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

// The format a region of a file of info's format is written in.
int regionFormat(const SF_INFO &info)
{
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool pcm = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16
        || subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 || isFloatSubtype(subtype);
    if (major == SF_FORMAT_FLAC)
        return info.format;
    if (pcm
        && (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_AIFF || major == SF_FORMAT_RF64))
        return info.format;
    if (pcm)
        return SF_FORMAT_WAV | subtype;
    // Decoded from a compressed format: FLAC keeps every decoded bit that
    // 24 bits can hold.
    return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
}

std::string seconds(double s)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.3f", s);
    return text.data();
}

} // namespace

std::string regionFileName(const std::string &sourceName, double start, double end, bool flac)
{
    const std::size_t dot = sourceName.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? sourceName : sourceName.substr(0, dot);
    std::string extension = dot == std::string::npos || dot == 0 ? std::string(".wav") : sourceName.substr(dot);
    if (flac)
        extension = ".flac";
    return stem + " " + seconds(start) + "-" + seconds(end) + "s" + extension;
}

FileResult exportRegion(const std::string &source, std::int64_t first, std::int64_t last, const std::string &folder,
                        const Hooks &hooks)
{
    FileResult r;
    r.status = FileResult::Status::Failed;
    const std::string name = splitPath(source).second;
    std::string error;
    const std::unique_ptr<SoundFile> in = SoundFile::open(source, &error);
    if (!in) {
        r.error = "\xe2\x80\x9c" + name + "\xe2\x80\x9d cannot be read: " + error;
        return r;
    }
    const SF_INFO &info = in->info();
    if (first < 0 || last < first || last >= info.frames) {
        r.status = FileResult::Status::Refused;
        r.error = "The region lies outside \xe2\x80\x9c" + name + "\xe2\x80\x9d";
        return r;
    }
    SF_INFO outInfo{};
    outInfo.samplerate = info.samplerate;
    outInfo.channels = info.channels;
    outInfo.format = regionFormat(info);
    if (!sf_format_check(&outInfo))
        outInfo.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const bool flac = (outInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    const bool aiff = (outInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF;
    std::string fileName = regionFileName(name, static_cast<double>(first) / info.samplerate,
                                          static_cast<double>(last + 1) / info.samplerate, flac);
    if (!flac && !aiff && !fileName.ends_with(".wav") && !fileName.ends_with(".WAV"))
        fileName.replace(fileName.rfind('.'), std::string::npos, ".wav");
    const bool floats = isFloatSubtype(outInfo.format & SF_FORMAT_SUBMASK);
    bool cancelled = false;
    const auto write = [&](int fd) {
        SNDFILE *out = SoundFile::create(fd, outInfo, &error);
        if (!out)
            return false;
        if (sf_seek(in->handle(), first, SEEK_SET) != first) {
            sf_close(out);
            error = "it cannot be read from the region's start";
            return false;
        }
        constexpr sf_count_t kFrames = 16384;
        const auto channels = static_cast<std::size_t>(info.channels);
        std::vector<int> ints(floats ? 0 : static_cast<std::size_t>(kFrames) * channels);
        std::vector<double> doubles(floats ? static_cast<std::size_t>(kFrames) * channels : 0);
        sf_count_t left = last - first + 1;
        bool ok = true;
        while (ok && left > 0) {
            if (hooks.cancelled && hooks.cancelled()) {
                cancelled = true;
                ok = false;
                break;
            }
            const sf_count_t want = std::min(left, kFrames);
            // Integers for integer samples, doubles for floating ones: what
            // is read is what is written, bit for bit.
            const sf_count_t got = floats ? sf_readf_double(in->handle(), doubles.data(), want)
                                          : sf_readf_int(in->handle(), ints.data(), want);
            if (got <= 0) {
                error = "it ends before the region does";
                ok = false;
                break;
            }
            const sf_count_t put
                = floats ? sf_writef_double(out, doubles.data(), got) : sf_writef_int(out, ints.data(), got);
            if (put != got) {
                error = sf_strerror(out);
                ok = false;
            }
            left -= got;
        }
        if (sf_close(out) != 0 && ok) {
            error = "it could not be finished";
            ok = false;
        }
        return ok;
    };
    r = writeNew(folder, fileName, write);
    if (cancelled) {
        r = FileResult{};
        r.status = FileResult::Status::Cancelled;
    } else if (r.status == FileResult::Status::Failed && !error.empty()) {
        r.error = "\xe2\x80\x9c" + fileName + "\xe2\x80\x9d was not written: " + error;
    }
    return r;
}

} // namespace auralist::files
