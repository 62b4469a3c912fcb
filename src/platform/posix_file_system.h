#pragma once

#include "core/services.h"

namespace auralist {

// The file system through POSIX calls on native byte paths.
class PosixFileSystem : public FileSystem {
public:
    bool listDirectory(const std::string &path, const EntryCallback &callback) override;
    EntryKind kindOf(const std::string &path) override;
    std::uint32_t fileTypeCode(const std::string &path) override;
    std::optional<FileIdentity> identify(const std::string &path) override;
    RemovalResult removeFile(const std::string &path, const FileIdentity &expected, bool toTrash) override;
    std::optional<FileStamp> stamp(const std::string &path) override;
};

} // namespace auralist
