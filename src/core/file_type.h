#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace auralist {

class FileSystem;

// The last component of a path, trailing separators ignored ("/a/b/" -> "b").
std::string_view lastPathComponent(std::string_view path);
// The part of the last component after its last dot; empty when none.
std::string_view pathExtension(std::string_view path);
// folder + "/" + relative, with exactly one separator between them.
std::string joinPath(std::string_view folder, std::string_view relative);

// The four bytes of a type code, most significant first, read as Mac OS
// Roman and returned as UTF-8.
std::string typeCodeString(std::uint32_t code);

// The path's type string: its extension, else its type code's four
// characters, else empty.
std::string pathFileType(const std::string &path, FileSystem &fs);

} // namespace auralist
