// Reads a message template: subject line, separator line, body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pinemail {

inline constexpr std::size_t kSubjectLimit = 63;                  // code points
inline constexpr std::uint64_t kTemplateSizeLimit = 1024 * 1024;  // bytes

// Reads the template at `path` (UTF-8). True when usable: line 1 gives the
// subject (first 63 characters), line 2 is dropped, every later line is
// appended to the body followed by CR LF. The file is decoded like every text
// file (see LineReader). False for anything but a regular file of at most
// kTemplateSizeLimit bytes (a missing file, a folder, a device, a FIFO, a
// larger file), an empty file, a one-line file, or a read error on the way.
// `subject` is set once line 1 was read and `body` once line 2 was read.
bool ReadTemplate(const std::string& path, std::string& subject, std::string& body);

// The same over an open file (the caller closes it); more than
// kTemplateSizeLimit bytes make it unusable.
bool ReadTemplate(std::FILE* file, std::string& subject, std::string& body);

}  // namespace pinemail
