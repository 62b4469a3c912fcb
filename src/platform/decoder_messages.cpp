#include "platform/decoder_messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <thread>

namespace auralist {

namespace {

std::mutex g_mutex;
std::string g_currentFile; // guarded by g_mutex

void writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void relay(int in, int out)
{
    std::set<std::string> reported;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n', start)) {
            const std::string line = pending.substr(start, eol + 1 - start);
            start = eol + 1;
            if (!DecoderMessages::isDecoderLine(line)) {
                writeAll(out, line);
                continue;
            }
            std::string file;
            {
                const std::lock_guard<std::mutex> lock(g_mutex);
                file = g_currentFile;
            }
            if (reported.insert(file).second)
                writeAll(out,
                         "Auralist: the decoder found damage in " + (file.empty() ? "a file" : file) + ": " + line);
        }
        pending.erase(0, start);
        // A very long line without an end is passed on as it is.
        if (pending.size() > 65536) {
            writeAll(out, pending);
            pending.clear();
        }
    }
    writeAll(out, pending);
}

} // namespace

bool DecoderMessages::isDecoderLine(const std::string &line)
{
    // libmpg123's notes, warnings and errors.
    return line.starts_with("Note: ") || line.starts_with("Warning: ") || line.starts_with("[src/libmpg123/");
}

void DecoderMessages::setCurrentFile(const std::string &path)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_currentFile = path;
}

void DecoderMessages::install()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const int original = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (original < 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        if (original >= 0)
            ::close(original);
        return;
    }
    ::close(fds[1]);
    // The relay lives as long as the process: it ends when the last writer
    // of standard error does.
    std::thread(relay, fds[0], original).detach();
}

} // namespace auralist
