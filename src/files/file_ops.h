#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/services.h"

namespace auralist::files {

// The operations on the user's files, each done at once on the calling
// thread against the real file system. Nothing is overwritten: a name is
// taken only by linkat or renameat2(RENAME_NOREPLACE), which fail when it
// exists. A copy is written unnamed (O_TMPFILE; a hidden temporary name
// where the file system has none) and named only once it is whole, so a
// kill, a full disk or a vanished folder never leaves a partial file under
// a final name. A move across file systems removes its source only after
// the copy's size and hash equal the source's and the copy is on disk.
struct Hooks {
    // Asked between blocks; true ends the step, undone.
    std::function<bool()> cancelled;
    // Told of the bytes copied since last told.
    std::function<void(std::uint64_t)> copied;
    // Tests: a move copies and verifies, as across file systems.
    bool alwaysCopy = false;
};

std::optional<FileStamp> stampAt(const std::string &path);

// "name.wav" with n > 1: "name n.wav" (a leading dot is no extension).
std::string numberedName(std::string_view name, int n);

// A name a user may give a file: not empty, no slash, not "." or "..".
bool acceptableName(std::string_view name);

FileResult copyInto(const std::string &source, const std::string &folder, const Hooks &hooks = {});
FileResult moveInto(const std::string &source, const std::string &folder, const Hooks &hooks = {});
FileResult renameTo(const std::string &path, const std::string &newName);
FileResult removeCopy(const std::string &path, const FileStamp &expected);
// Moves path, if it is still expected, to exactly target (never numbered);
// then removes trashInfo, if given.
FileResult moveBack(const std::string &path, const FileStamp &expected, const std::string &target,
                    const std::string &trashInfo = {}, const Hooks &hooks = {});
// A new file in folder, named name or the first free numbered name, of
// what write(fd) writes; nothing is named if it returns false.
FileResult writeNew(const std::string &folder, const std::string &name, const std::function<bool(int fd)> &write);
// text as the whole of the file path: written beside it, then put in its
// place at once.
FileResult writeText(const std::string &path, const std::string &text);
// The hash of a file's decoded audio, given a way to be stopped; nothing
// when it cannot be read.
using AudioHash = std::function<std::optional<std::uint64_t>(const std::string &path, const std::function<bool()> &)>;
// Whether path still holds the sound whose decoded audio hashes to audio:
// Done with its stamp (the same before and after the reading), Refused
// when it holds another sound, changed while it was read, or is gone.
FileResult checkSound(const std::string &path, std::uint64_t audio, const AudioHash &hashOf, const Hooks &hooks = {});
// The bytes a step copies, if it copies (a rename copies none).
std::uint64_t bytesToCopy(const FileStep &step);

} // namespace auralist::files
