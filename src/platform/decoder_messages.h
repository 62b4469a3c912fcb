#pragma once

#include <string>

namespace auralist {

// Some decoders behind libsndfile (the MP3 one above all) print a note to
// standard error for every damaged frame: tens of lines a second for one bad
// file. Once installed, standard error goes through a relay thread that
// passes every other line on unchanged, as it comes, and turns a file's
// decoder chatter into at most one line naming the file.
//
// Threads: install() starts the relay; setCurrentFile() may be called from
// any thread (it takes a short lock). The relay owns the set of files
// already reported and writes only to the original standard error.
class DecoderMessages {
public:
    // Redirects file descriptor 2 through the relay. Does nothing if a pipe
    // or thread cannot be had (messages then go straight through).
    static void install();
    // The file the decoder works on now; its complaints are put to it.
    static void setCurrentFile(const std::string &path);
    // Whether a line of standard error is decoder chatter.
    static bool isDecoderLine(const std::string &line);
};

} // namespace auralist
