// What the SMTP pipeline writes: command text and messages, each message
// dot-stuffed for DATA or as it is for BDAT, read out piece by piece from its
// segments so that no joined copy of it is ever made.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message/message_segments.h"

namespace pinemail {

// Dot-stuffs a message given in pieces of any size: a line that starts with
// "." gets a second one, wherever the pieces split the lines.
class SmtpDotStuffer {
 public:
  // Appends `piece` to `out`, dot-stuffed.
  void Add(std::string_view piece, std::string* out);
  // Dot-stuffs the bytes of `out` from `start` on where they stand; without
  // a line that starts with "." (base64 never has one) nothing is moved.
  void StuffFrom(std::string* out, std::size_t start);
  // What ends the data after the message: its last line's end when it had
  // none, then the line ".".
  std::string_view End() const { return line_start_ ? ".\r\n" : "\r\n.\r\n"; }

 private:
  bool line_start_ = true;
};

// The message as DATA carries it: dot-stuffed, its last line ended, and the
// end-of-data line after it.
std::string SmtpDataPayload(std::string_view message);

// Bytes to write to the server, in order: command text, and messages held as
// their (shared) segments until they are read out.
class SmtpOutput {
 public:
  void AddText(std::string_view text);
  // `message` dot-stuffed with its end of data (DATA), or as it is (BDAT).
  void AddMessage(std::shared_ptr<const MessageSegments> message, bool dot_stuffed);

  bool empty() const { return next_ >= pieces_.size(); }

  // Appends the next bytes to `out` until it holds at least `size` bytes or
  // all was read. False when it appended nothing: all was read.
  bool Read(std::string* out, std::size_t size);
  // All that is left, in one text, read `piece` bytes or so at a time.
  std::string ReadAll(std::size_t piece = 64 * 1024);

 private:
  struct Piece {
    std::string text;
    std::shared_ptr<const MessageSegments> message;  // or a message
    bool dot_stuffed = false;
  };

  void ReadMessage(Piece& piece, std::string* out, std::size_t size);
  void Finish();

  std::vector<Piece> pieces_;
  std::size_t next_ = 0;  // the piece being read
  // Within a message being read: where, and the stuffing state.
  MessageSegments::Cursor cursor_;
  SmtpDotStuffer stuffer_;
};

}  // namespace pinemail
