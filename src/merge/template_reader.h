// Reads a message template: subject line, separator line, body.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pinemail {

inline constexpr std::size_t kSubjectLimit = 63;  // code points

// Reads the template at `path` (UTF-8). True when usable: line 1 gives the
// subject (first 63 characters), line 2 is dropped, every later line is
// appended to the body followed by CR LF. The file is decoded like every text
// file (system code page, UTF-8 after a byte-order mark). False for a missing
// file, a folder, an empty file, a one-line file, or a read error on the way.
// `subject` is set once line 1 was read and `body` once line 2 was read.
bool ReadTemplate(const std::string& path, std::string& subject, std::string& body);

// The same over an open file (the caller closes it).
bool ReadTemplate(std::FILE* file, std::string& subject, std::string& body);

}  // namespace pinemail
