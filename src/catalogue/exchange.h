#pragma once

#include <string>

#include "catalogue/database.h"

namespace auralist::catalogue {

// The user's own judgements (favourites and tags) as a JSON file of their
// own, to keep or carry elsewhere:
//   {"auralist-library": 1, "sounds": [{"path": "/s/kick.wav",
//     "fingerprint": "…", "favourite": true, "tags": "deep, 808"}]}
// A path that is not UTF-8 is given as "pathBase64" instead, its bytes
// kept exactly.
std::string exportMarks(Database &db);

struct ImportResult {
    bool readable = false; // the text was such a file
    int applied = 0; // sounds found (by path, else by fingerprint) and marked
    int unmatched = 0; // entries for sounds the catalogue does not know
};

// Merges such a file in: a favourite stays a favourite, tags are joined
// (each once, in order); nothing is taken away. Each sound's marks are
// one edit; on the writer, the whole file is one transaction.
ImportResult importMarks(Database &db, const std::string &json);

} // namespace auralist::catalogue
