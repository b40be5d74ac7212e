// Dot-stuffs messages for the DATA command and reads out what the SMTP
// pipeline writes, message segments included.
#include "mail/smtp/smtp_payload.h"

#include <utility>

namespace pinemail {

// Only a "." right after a line feed (or at the very start) is doubled; the
// pieces' borders change nothing, since the state carries across them.
void SmtpDotStuffer::Add(std::string_view piece, std::string* out) {
  if (piece.empty()) return;
  if (line_start_ && piece.front() == '.') *out += '.';
  std::size_t from = 0;
  for (std::size_t feed = piece.find('\n');
       feed != std::string_view::npos && feed + 1 < piece.size();
       feed = piece.find('\n', feed + 1)) {
    if (piece[feed + 1] != '.') continue;
    out->append(piece.substr(from, feed + 1 - from)).append(".");
    from = feed + 1;
  }
  out->append(piece.substr(from));
  line_start_ = piece.back() == '\n';
}

// Dots are looked for first: they are rare (a host name in a header), and
// a search for them runs through base64 at memory speed.
void SmtpDotStuffer::StuffFrom(std::string* out, std::size_t start) {
  const std::string_view added = std::string_view(*out).substr(start);
  if (added.empty()) return;
  for (std::size_t dot = added.find('.'); dot != std::string_view::npos;
       dot = added.find('.', dot + 1)) {
    if (dot == 0 ? line_start_ : added[dot - 1] == '\n') {
      const std::string raw(added);
      out->resize(start);
      return Add(raw, out);
    }
  }
  line_start_ = added.back() == '\n';
}

std::string SmtpDataPayload(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 8);
  SmtpDotStuffer stuffer;
  stuffer.Add(message, &out);
  out += stuffer.End();
  return out;
}

void SmtpOutput::AddText(std::string_view text) {
  if (text.empty()) return;
  if (empty() || pieces_.back().message != nullptr) pieces_.emplace_back();
  pieces_.back().text += text;
}

void SmtpOutput::AddMessage(std::shared_ptr<const MessageSegments> message, bool dot_stuffed) {
  if (message == nullptr) return;
  pieces_.push_back(Piece{{}, std::move(message), dot_stuffed});
}

bool SmtpOutput::Read(std::string* out, std::size_t size) {
  const std::size_t before = out->size();
  while (out->size() < size && !empty()) {
    Piece& piece = pieces_[next_];
    if (piece.message == nullptr) {
      out->append(piece.text);
      Finish();
    } else {
      ReadMessage(piece, out, size);
    }
  }
  return out->size() > before;
}

// A message goes on from the cursor; once read to its end, a stuffed one
// gets its end of data.
void SmtpOutput::ReadMessage(Piece& piece, std::string* out, std::size_t size) {
  if (!piece.dot_stuffed) {
    if (!piece.message->Read(&cursor_, out, size)) Finish();
    return;
  }
  const std::size_t start = out->size();
  if (piece.message->Read(&cursor_, out, size)) {
    stuffer_.StuffFrom(out, start);
    return;
  }
  out->append(stuffer_.End());
  Finish();
}

// The piece was read: its message is let go, and the next one starts afresh.
void SmtpOutput::Finish() {
  pieces_[next_] = Piece();
  ++next_;
  cursor_ = MessageSegments::Cursor();
  stuffer_ = SmtpDotStuffer();
}

std::string SmtpOutput::ReadAll(std::size_t piece) {
  std::string all;
  while (Read(&all, all.size() + piece)) {
  }
  return all;
}

}  // namespace pinemail
