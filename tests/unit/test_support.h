#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

namespace auralist::testing {

// Runs the event loop until done() or ms milliseconds have passed.
inline bool spinUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// A temporary folder removed at the end of the test.
class TempDir {
public:
    TempDir()
    {
        char templ[] = "/tmp/auralist-test-XXXXXX";
        m_path = ::mkdtemp(templ);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &relative, const std::string &contents = "x") const
    {
        const std::string p = m_path + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p) << contents;
        return p;
    }
    std::string dir(const std::string &relative) const
    {
        const std::string p = m_path + "/" + relative;
        std::filesystem::create_directories(p);
        return p;
    }

private:
    std::string m_path;
};

// Diagnostics written to a temporary file, read back as text.
class CapturedOutput {
public:
    CapturedOutput() : m_file(std::tmpfile()) { }
    ~CapturedOutput() { std::fclose(m_file); }
    CapturedOutput(const CapturedOutput &) = delete;
    CapturedOutput &operator=(const CapturedOutput &) = delete;
    std::FILE *file() const { return m_file; }
    std::string take()
    {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string out;
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, m_file)) > 0)
            out.append(buf, n);
        // The same stream goes on: whoever writes to it keeps its pointer.
        std::rewind(m_file);
        if (::ftruncate(::fileno(m_file), 0) != 0)
            out += "(could not empty the captured output)";
        return out;
    }

private:
    std::FILE *m_file;
};

// Every entry below root with what it is: a file's contents, a link's
// target, "folder", or "special" (a pipe, a device). Two listings differ
// exactly where something changed.
inline std::map<std::string, std::string> listing(const std::string &root)
{
    std::map<std::string, std::string> out;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            out[rel] = "link to " + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            out[rel] = "folder";
        } else if (!it->is_regular_file()) {
            out[rel] = "special"; // a pipe or a device: never opened
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream contents;
            contents << in.rdbuf();
            out[rel] = "file " + std::to_string(std::hash<std::string>{}(contents.str()));
        }
    }
    return out;
}

} // namespace auralist::testing
