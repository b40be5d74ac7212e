// A message as a list of segments: text of its own (headers, text parts)
// between encoded files that many messages share, so that a transport can
// write a message in turn without a copy of every file per message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/attached_file.h"

namespace pinemail {

// Base64 lines are at most this long (RFC 2045 6.8).
inline constexpr std::size_t kBase64LineLength = 76;

class MessageSegments {
 public:
  // The message's lines end in `line_end` ("\r\n" or "\n").
  explicit MessageSegments(std::string_view line_end = "\r\n") : line_end_(line_end) {}

  // The text that the next Append writes after; appending to it adds to the
  // message's own text.
  std::string* text();
  void Append(std::string_view text) { *this->text() += text; }

  // Appends the base64 of `file` in lines of kBase64LineLength, each ended
  // by the line end, without copying it.
  void AppendEncoded(std::shared_ptr<const AttachedFile> file);

  std::string_view line_end() const { return line_end_; }

  // The message's size in bytes, as written.
  std::uint64_t size() const;

  // Calls `write(std::string_view)` with the message's bytes in order, in
  // pieces; stops early and returns false when `write` returns false.
  template <typename Write>
  bool ForEach(Write&& write) const {
    for (const Segment& segment : segments_) {
      if (segment.file == nullptr) {
        if (!write(std::string_view(segment.text))) return false;
        continue;
      }
      const std::string_view encoded = segment.file->base64;
      for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
        if (!write(encoded.substr(i, kBase64LineLength)) || !write(line_end_)) return false;
      }
    }
    return true;
  }

  // Where a Read goes on from: a segment, and how far into its text or its
  // base64 the reading got.
  struct Cursor {
    std::size_t segment = 0;
    std::size_t offset = 0;
  };
  // Appends the message's bytes from `cursor` on to `out` until `out` holds
  // at least `size` bytes or the message ends (a base64 line and its line
  // end go whole), and moves `cursor` past them. False when it appended nothing: the
  // message was read to its end.
  bool Read(Cursor* cursor, std::string* out, std::size_t size) const;

  // The whole message in one text.
  std::string Join() const;

 private:
  struct Segment {
    std::string text;                          // the message's own text, or
    std::shared_ptr<const AttachedFile> file;  // a shared file's base64 lines
  };

  void AppendLines(std::string_view base64, std::size_t* offset, std::size_t size,
                   std::string* out) const;

  std::string line_end_;
  std::vector<Segment> segments_;
};

// The size of `base64` written in lines of kBase64LineLength ended by
// `line_end`.
std::uint64_t Base64LinesSize(std::size_t base64_size, std::size_t line_end_size);

}  // namespace pinemail
