// Streams a text file line by line by the tool's line rules.
#include "text/line_reader.h"

#include <cstring>

namespace pinemail {

LineReader::LineReader(std::FILE* file) : file_(file) {}

bool LineReader::Fill() {
  pos_ = 0;
  buffer_.clear();
  if (eof_ || file_ == nullptr) return false;
  buffer_.resize(kBlockSize);
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  buffer_.resize(got);
  // A short read may only be a pipe delivering less; the end of the file (or
  // an error, which must not be retried forever) ends the reading, without a
  // further read that could only return nothing.
  if (got == 0 || std::feof(file_) != 0 || std::ferror(file_) != 0) eof_ = true;
  return got > 0;
}

bool LineReader::NextRaw(std::string* bytes) {
  bytes->clear();
  for (;;) {
    if (pos_ == buffer_.size() && !Fill()) {
      // Text after the last terminator is a line; nothing after it is not.
      return !bytes->empty();
    }
    const char* start = buffer_.data() + pos_;
    const std::size_t left = buffer_.size() - pos_;
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', left));
    if (cr == nullptr) {
      bytes->append(start, left);
      pos_ = buffer_.size();
      continue;
    }
    bytes->append(start, static_cast<std::size_t>(cr - start));
    pos_ += static_cast<std::size_t>(cr - start) + 1;
    // The LF of a CR LF may sit at the start of the next block.
    if (pos_ == buffer_.size()) Fill();
    if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
    return true;
  }
}

bool LineReader::Next(std::string* line) {
  if (!NextRaw(&raw_)) return false;
  *line = decoder_.Decode(raw_);
  return true;
}

}  // namespace pinemail
