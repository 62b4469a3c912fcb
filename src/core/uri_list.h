#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace auralist {

// The MIME type that file managers and audio workstations exchange.
inline constexpr const char *kUriListMimeType = "text/uri-list";

// "file://" + the path's bytes percent-encoded; any byte sequence survives.
std::string fileUrlForPath(std::string_view path);
// The native path bytes of a local file URL (no host or "localhost");
// nothing for other URLs.
std::optional<std::string> pathForFileUrl(std::string_view url);
// The lines of a text/uri-list, one URL each, CRLF-separated.
std::string uriListForPaths(const std::vector<std::string> &paths);
// The local file paths of a text/uri-list, in order; other URLs and
// comment lines are left out.
std::vector<std::string> pathsFromUriList(std::string_view list);

} // namespace auralist
