#include "core/uri_list.h"

#include "core/url_escape.h"

namespace auralist {

namespace {

bool keptInUrl(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-'
        || c == '_' || c == '.' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string fileUrlForPath(std::string_view path)
{
    std::string out = "file://";
    out.reserve(out.size() + path.size() * 3 / 2);
    appendPercentEscaped(out, path, keptInUrl);
    return out;
}

std::optional<std::string> pathForFileUrl(std::string_view url)
{
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size())
        return std::nullopt;
    for (size_t i = 0; i < scheme.size(); ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i])
            return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    const size_t slash = url.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view host = url.substr(0, slash);
    if (!host.empty() && host != "localhost")
        return std::nullopt;
    std::string_view encoded = url.substr(slash);
    // A query or fragment is not part of a file path.
    const size_t end = encoded.find_first_of("?#");
    if (end != std::string_view::npos)
        encoded = encoded.substr(0, end);
    std::string path;
    path.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%') {
            const int hi = i + 1 < encoded.size() ? hexValue(encoded[i + 1]) : -1;
            const int lo = i + 2 < encoded.size() ? hexValue(encoded[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                path.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        path.push_back(encoded[i]);
    }
    if (path.empty() || path.find('\0') != std::string::npos)
        return std::nullopt;
    return path;
}

std::string uriListForPaths(const std::vector<std::string> &paths)
{
    std::string out;
    for (const std::string &p : paths) {
        out += fileUrlForPath(p);
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> pathsFromUriList(std::string_view list)
{
    std::vector<std::string> paths;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find('\n', pos);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view line = list.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (auto path = pathForFileUrl(line))
            paths.push_back(std::move(*path));
    }
    return paths;
}

} // namespace auralist
