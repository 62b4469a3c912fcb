#include "core/folder_scan.h"

#include "core/file_type.h"
#include "core/services.h"

namespace auralist {

namespace {

struct Pending {
    std::string path;
    EntryKind kind;
};

struct Frame {
    std::vector<Pending> entries;
    size_t next = 0;
};

std::vector<Pending> listOne(FileSystem &fs, const std::string &folder)
{
    std::vector<Pending> entries;
    fs.listDirectory(folder, [&](std::string_view name, EntryKind kind) {
        entries.push_back({joinPath(folder, name), kind});
    });
    return entries;
}

} // namespace

std::vector<std::string> subpathsAtPath(FileSystem &fs, const std::string &folder)
{
    std::vector<std::string> out;
    // An explicit stack: trees may be far deeper than the call stack.
    std::vector<Frame> stack;
    stack.push_back({listOne(fs, folder), 0});
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        Pending &entry = top.entries[top.next++];
        EntryKind kind = entry.kind;
        if (kind == EntryKind::Unknown) {
            const auto identity = fs.identify(entry.path);
            kind = identity ? identity->kind : EntryKind::None;
        }
        out.push_back(std::move(entry.path));
        if (kind == EntryKind::Directory) {
            std::vector<Pending> children = listOne(fs, out.back());
            if (!children.empty())
                stack.push_back({std::move(children), 0});
        }
    }
    return out;
}

} // namespace auralist
