// Streams a text file line by line by the tool's line rules.
#pragma once

#include <cstdio>
#include <string>

#include "text/codepage.h"

namespace pinemail {

// A line ends at CR LF or at a lone CR; the terminator is not part of the
// line; a lone LF is an ordinary character; a last line without a terminator
// is still a line. Lines may be of any length. Lines are decoded to UTF-8.
class LineReader {
 public:
  // The file is read in blocks of this many bytes.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  // Reads from `file`, which the caller owns and closes.
  explicit LineReader(std::FILE* file);

  // Stores the next line in `line` and returns true; false at the end of the
  // file (or on a read error, which ends the reading).
  bool Next(std::string* line);

  // The next line's raw bytes, undecoded.
  bool NextRaw(std::string* bytes);

 private:
  // Reads the next block into buffer_; false at the end or on an error.
  bool Fill();

  std::FILE* file_;
  TextDecoder decoder_;
  std::string raw_;  // the undecoded line, kept to reuse its storage
  std::string buffer_;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace pinemail
