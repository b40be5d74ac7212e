// Streams a text file line by line by the tool's line rules.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "text/codepage.h"

namespace pinemail {

// A line ends at CR LF or at a lone CR; the terminator is not part of the
// line; a lone LF is an ordinary character; a last line without a terminator
// is still a line. Lines may be of any length. Lines are decoded to UTF-8.
//
// The encoding is the file's, decided once before the first line: a
// byte-order mark (UTF-8, UTF-16 LE or BE; the mark is not part of line 1);
// without one, under a UTF-8 code page, the whole file is checked first
// (block by block, then read again from the start) and read as UTF-8 when it
// all is UTF-8, else as CP932; otherwise the system's code page.
class LineReader {
 public:
  // The file is read in blocks of this many bytes.
  static constexpr std::size_t kBlockSize = 64 * 1024;
  static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

  // Reads from `file`, from where it stands; the caller owns and closes it.
  // A file longer than `byte_limit` bytes is read no further than that, and
  // over_limit() then says so.
  explicit LineReader(std::FILE* file, std::uint64_t byte_limit = kNoLimit);

  // Stores the next line in `line` and returns true; false at the end of the
  // file (or on a read error, or past the limit, which end the reading).
  bool Next(std::string* line);

  // The next line undecoded: the file's bytes, or the UTF-8 form of a UTF-16
  // file's text.
  bool NextRaw(std::string* bytes);

  // The line Next returned last, undecoded as NextRaw gives it.
  std::string_view raw() const { return line_; }

  // True when the file held more than the byte limit.
  bool over_limit() const { return over_limit_; }

  // The file's encoding (known once a line was asked for).
  TextEncoding encoding() const { return encoding_; }

 private:
  // Reads the first block and decides the encoding.
  void Start();
  // Under a UTF-8 code page: UTF-8 when the rest of the file is, else CP932;
  // kSystem when the file cannot be read again from here.
  TextEncoding CheckRestForUtf8();
  // Reads up to one block of the file's bytes into raw_ after what it holds.
  void ReadBlock();
  // Appends the UTF-8 form of the UTF-16 text in raw_ to buffer_.
  void ConvertUtf16();
  // Reads the next block into buffer_ (UTF-16 converted to UTF-8); false at
  // the end or on an error.
  bool Fill();

  std::FILE* file_;
  std::uint64_t byte_limit_;
  std::uint64_t bytes_read_ = 0;
  bool over_limit_ = false;
  bool started_ = false;
  TextEncoding encoding_ = TextEncoding::kSystem;
  TextDecoder decoder_;
  std::string raw_;   // a block as read (UTF-16: with the bytes the last one left)
  std::string line_;  // the undecoded line, kept to reuse its storage
  std::string buffer_;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace pinemail
