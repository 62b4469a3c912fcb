#include "catalogue/mark_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace auralist::catalogue {

namespace {

std::string hex(const std::string &bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 15]);
    }
    return out;
}

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool unhex(const std::string &text, std::string &out)
{
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<char>(high << 4 | low));
    }
    return true;
}

std::string lines(const std::vector<MarkEdit> &edits)
{
    std::string out;
    for (const MarkEdit &e : edits) {
        if (e.kind == MarkEdit::Kind::Favourite)
            out += std::string("F ") + (e.on ? "1" : "0");
        else
            out += "T " + (e.tags.empty() ? std::string("-") : hex(e.tags));
        out += ' ' + hex(e.path) + '\n';
    }
    return out;
}

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return ::fdatasync(fd) == 0;
}

} // namespace

std::vector<MarkEdit> MarkJournal::read() const
{
    std::vector<MarkEdit> edits;
    std::ifstream in(m_path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof())
            break; // no newline: cut short by a kill while it was written
        std::istringstream fields(line);
        std::string kind;
        std::string value;
        std::string path;
        if (!(fields >> kind >> value >> path))
            continue;
        MarkEdit e;
        if (!unhex(path, e.path) || e.path.empty())
            continue;
        if (kind == "F" && (value == "0" || value == "1")) {
            e.kind = MarkEdit::Kind::Favourite;
            e.on = value == "1";
        } else if (kind == "T" && (value == "-" || unhex(value, e.tags))) {
            e.kind = MarkEdit::Kind::Tags;
        } else {
            continue;
        }
        edits.push_back(std::move(e));
    }
    return edits;
}

bool MarkJournal::append(const std::vector<MarkEdit> &edits)
{
    if (edits.empty())
        return true;
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, lines(edits));
    return ::close(fd) == 0 && ok;
}

bool MarkJournal::replace(const std::vector<MarkEdit> &edits)
{
    if (edits.empty())
        return ::unlink(m_path.c_str()) == 0 || errno == ENOENT;
    const std::string partial = m_path + ".part";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, lines(edits));
    if (::close(fd) != 0 || !ok || std::rename(partial.c_str(), m_path.c_str()) != 0) {
        ::unlink(partial.c_str());
        return false;
    }
    return true;
}

} // namespace auralist::catalogue
