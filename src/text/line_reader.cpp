// Streams a text file line by line by the tool's line rules.
#include "text/line_reader.h"

#include <algorithm>
#include <cstring>

#include "text/utf8.h"

namespace pinemail {

namespace {

bool IsUtf16(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16Le || encoding == TextEncoding::kUtf16Be;
}

}  // namespace

LineReader::LineReader(std::FILE* file, std::uint64_t byte_limit)
    : file_(file), byte_limit_(byte_limit) {}

void LineReader::ReadBlock() {
  if (eof_ || file_ == nullptr) return;
  std::size_t wanted = kBlockSize;
  // One byte past the limit is enough to tell that the file is too long.
  if (byte_limit_ != kNoLimit) {
    wanted = std::min<std::uint64_t>(wanted, byte_limit_ - bytes_read_ + 1);
  }
  const std::size_t kept = raw_.size();
  raw_.resize(kept + wanted);
  const std::size_t got = std::fread(raw_.data() + kept, 1, wanted, file_);
  raw_.resize(kept + got);
  bytes_read_ += got;
  // A short read may only be a pipe delivering less; the end of the file (or
  // an error, which must not be retried forever) ends the reading, without a
  // further read that could only return nothing.
  if (got == 0 || std::feof(file_) != 0 || std::ferror(file_) != 0) eof_ = true;
  if (bytes_read_ > byte_limit_) {
    over_limit_ = true;
    eof_ = true;
  }
}

void LineReader::ConvertUtf16() {
  const ByteOrder order =
      encoding_ == TextEncoding::kUtf16Le ? ByteOrder::kLittleEndian : ByteOrder::kBigEndian;
  // What is left (an odd byte, half a surrogate pair) waits for the next block.
  raw_.erase(0, AppendUtf16AsUtf8(raw_, order, eof_, buffer_));
}

bool LineReader::Fill() {
  pos_ = 0;
  buffer_.clear();
  if (!IsUtf16(encoding_)) raw_.clear();
  ReadBlock();
  if (over_limit_) return false;
  if (IsUtf16(encoding_)) {
    ConvertUtf16();
  } else {
    buffer_.swap(raw_);
  }
  return !buffer_.empty();
}

void LineReader::Start() {
  started_ = true;
  ReadBlock();
  const ByteOrderMark mark = FindByteOrderMark(raw_);
  encoding_ = mark.encoding;
  decoder_ = TextDecoder(encoding_);
  if (over_limit_) return;
  if (IsUtf16(encoding_)) {
    raw_.erase(0, mark.size);
    ConvertUtf16();
    return;
  }
  buffer_.swap(raw_);
  raw_.clear();
  pos_ = mark.size;
  if (mark.size == 0 && SystemCodePageIsUtf8()) {
    encoding_ = CheckRestForUtf8();
    decoder_ = TextDecoder(encoding_);
  }
}

TextEncoding LineReader::CheckRestForUtf8() {
  Utf8Checker checker;
  checker.Add(std::string_view(buffer_).substr(pos_));
  if (eof_) return checker.Finish() ? TextEncoding::kUtf8 : TextEncoding::kCp932;
  std::fpos_t here;
  // A stream that cannot go back is decided line by line.
  if (std::fgetpos(file_, &here) != 0) return TextEncoding::kSystem;
  const std::uint64_t read_before = bytes_read_;
  // One block at a time, so that a list of any size is never held whole.
  while (checker.valid() && !eof_) {
    raw_.clear();
    ReadBlock();
    checker.Add(raw_);
  }
  raw_.clear();
  const bool utf8 = checker.Finish();
  bytes_read_ = read_before;
  over_limit_ = false;
  // A read error, or failing to go back, ends the reading. Otherwise the end
  // of the file was reached only by the check: some C libraries (msvcrt)
  // leave its mark set after fsetpos.
  eof_ = std::ferror(file_) != 0 || std::fsetpos(file_, &here) != 0;
  if (!eof_) std::clearerr(file_);
  return utf8 ? TextEncoding::kUtf8 : TextEncoding::kCp932;
}

bool LineReader::NextRaw(std::string* bytes) {
  if (!started_) Start();
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
  if (!NextRaw(&line_)) return false;
  *line = decoder_.Decode(line_);
  return true;
}

}  // namespace pinemail
