#include "platform/sound_types.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace auralist {

namespace {

struct FormatTypes {
    int major;
    int subtype; // 0: any subtype will do
    std::vector<const char *> extensions;
    std::vector<const char *> typeCodes;
};

// Formats that need outside information to decode (raw) or a resource
// fork (Sound Designer II) are left out: they never decode here.
const std::vector<FormatTypes> &knownFormats()
{
    static const std::vector<FormatTypes> formats = {
        {SF_FORMAT_WAV, 0, {"wav", "wave"}, {"WAVE", "WAV "}},
        {SF_FORMAT_WAVEX, 0, {"wav"}, {}},
        {SF_FORMAT_AIFF, 0, {"aiff", "aif", "aifc"}, {"AIFF", "AIFC"}},
        {SF_FORMAT_AU, 0, {"au", "snd"}, {"ULAW", "NeXT"}},
        {SF_FORMAT_PAF, 0, {"paf"}, {}},
        {SF_FORMAT_SVX, 0, {"svx", "iff", "8svx"}, {"8SVX"}},
        {SF_FORMAT_NIST, 0, {"nist", "sph"}, {}},
        {SF_FORMAT_VOC, 0, {"voc"}, {"VOC "}},
        {SF_FORMAT_IRCAM, 0, {"sf", "ircam"}, {}},
        {SF_FORMAT_W64, 0, {"w64"}, {}},
        {SF_FORMAT_MAT4, 0, {"mat"}, {}},
        {SF_FORMAT_MAT5, 0, {"mat"}, {}},
        {SF_FORMAT_PVF, 0, {"pvf"}, {}},
        {SF_FORMAT_XI, 0, {"xi"}, {}},
        {SF_FORMAT_HTK, 0, {"htk"}, {}},
        {SF_FORMAT_SDS, 0, {"sds"}, {}},
        {SF_FORMAT_AVR, 0, {"avr"}, {}},
        {SF_FORMAT_FLAC, 0, {"flac"}, {"FLAC"}},
        {SF_FORMAT_CAF, 0, {"caf"}, {"caff"}},
        {SF_FORMAT_WVE, 0, {"wve"}, {}},
        {SF_FORMAT_OGG, SF_FORMAT_VORBIS, {"ogg", "oga"}, {"OggS"}},
        {SF_FORMAT_OGG, SF_FORMAT_OPUS, {"opus"}, {}},
        {SF_FORMAT_MPC2K, 0, {"mpc"}, {}},
        {SF_FORMAT_RF64, 0, {"rf64"}, {}},
        // Only listed when the installed library was built with MPEG.
        {SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III, {"mp3"}, {"MPG3", "Mp3 ", "MP3 "}},
        {SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_II, {"mp2"}, {}},
    };
    return formats;
}

std::set<int> installedMajorFormats()
{
    std::set<int> majors;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0)
            majors.insert(info.format & SF_FORMAT_TYPEMASK);
    }
    return majors;
}

bool subtypeInstalled(int major, int subtype)
{
    if (subtype == 0)
        return true;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    bool listed = false;
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &info, sizeof info) == 0
            && (info.format & SF_FORMAT_SUBMASK) == subtype)
            listed = true;
    }
    if (!listed)
        return false;
    SF_INFO probe{};
    probe.format = major | subtype;
    probe.channels = 2;
    probe.samplerate = 48000;
    return sf_format_check(&probe) != 0;
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

} // namespace

std::vector<std::string> sndfileSoundTypes()
{
    const std::set<int> majors = installedMajorFormats();
    std::vector<std::string> types;
    auto add = [&](const std::string &t) {
        if (std::find(types.begin(), types.end(), t) == types.end())
            types.push_back(t);
    };
    for (const FormatTypes &f : knownFormats()) {
        if (majors.count(f.major) == 0 || !subtypeInstalled(f.major, f.subtype))
            continue;
        for (const char *ext : f.extensions) {
            add(ext);
            add(upper(ext));
        }
        for (const char *code : f.typeCodes)
            add(code);
    }
    return types;
}

} // namespace auralist
