// pathFileType on arbitrary byte paths, with a file system that answers
// from the bytes too: never a crash, and a path with an extension is typed
// by it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/file_type.h"
#include "core/services.h"

using namespace auralist;

namespace {

class ByteFileSystem : public FileSystem {
public:
    explicit ByteFileSystem(std::uint32_t code) : m_code(code) { }
    bool listDirectory(const std::string &, const EntryCallback &) override { return false; }
    EntryKind kindOf(const std::string &) override { return EntryKind::File; }
    std::uint32_t fileTypeCode(const std::string &) override { return m_code; }
    std::optional<FileIdentity> identify(const std::string &) override { return std::nullopt; }
    RemovalResult removeFile(const std::string &, const FileIdentity &, bool) override
    {
        std::abort(); // typing a path must never remove anything
    }

private:
    std::uint32_t m_code;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint32_t code
        = (std::uint32_t(data[0]) << 24) | (std::uint32_t(data[1]) << 16) | (std::uint32_t(data[2]) << 8) | data[3];
    const std::string path(reinterpret_cast<const char *>(data + 4), size - 4);
    ByteFileSystem fs(code);
    const std::string type = pathFileType(path, fs);
    const std::string_view extension = pathExtension(path);
    if (!extension.empty() && type != extension)
        std::abort();
    (void)lastPathComponent(path);
    (void)typeCodeString(code);
    return 0;
}
