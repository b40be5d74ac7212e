// Follows an SMTP server's reply lines into whole replies and reads the
// enhanced status code of one.
#include "mail/smtp/smtp_reply.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "text/ascii.h"

namespace pinemail {
namespace {

std::string_view TrimAscii(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The limit of an EHLO line "SIZE" or "SIZE n" (RFC 1870): n, or 0 for
// none; nothing when the line is another keyword or its number is malformed.
// A number too large for the type is no limit a message could reach.
std::optional<std::uint64_t> SizeKeyword(std::string_view text) {
  if (text.size() < 4 || !StartsWithNoCase(text, "size")) return std::nullopt;
  if (text.size() == 4) return 0;
  if (text[4] != ' ') return std::nullopt;
  std::uint64_t limit = 0;
  for (const char c : TrimAscii(text.substr(5))) {
    if (c < '0' || c > '9') return std::nullopt;
    if (limit > (UINT64_MAX - 9) / 10) return 0;
    limit = limit * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return limit;
}

}  // namespace

void SmtpReplyTracker::Clear() { *this = SmtpReplyTracker(); }

void SmtpReplyTracker::Feed(std::string_view bytes) {
  while (!bytes.empty() && failure_.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::size_t take = end == std::string_view::npos ? bytes.size() : end + 1;
    if (partial_line_.size() + take > kSmtpLineLimit) return LineTooLong();
    reply_bytes_ += take;
    if (reply_bytes_ > kSmtpReplyLimit) {
      return Fail("サーバーの応答が長すぎます (" + std::to_string(kSmtpReplyLimit) +
                  " バイトまで)");
    }
    partial_line_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (end == std::string_view::npos) return;
    std::string_view line(partial_line_);
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    TakeLine(line);
    partial_line_.clear();
  }
}

void SmtpReplyTracker::LineTooLong() {
  Fail("サーバーの応答が長すぎます (1 行 " + std::to_string(kSmtpLineLimit) + " バイトまで)");
}

void SmtpReplyTracker::Fail(std::string reason) {
  if (!failure_.empty()) return;
  failure_ = std::move(reason);
  partial_line_.clear();
  pending_text_.clear();
}

bool SmtpReplyTracker::TakeReply(SmtpReply* reply) {
  if (waiting_.empty()) return false;
  *reply = std::move(waiting_.front());
  waiting_.pop_front();
  return true;
}

void SmtpReplyTracker::TakeLine(std::string_view line) {
  const bool coded = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                     [](char c) { return c >= '0' && c <= '9'; });
  // A line without a code belongs to no reply; it still counts towards the
  // reply's size, so that no stream of them goes on for ever.
  if (!coded) return;
  const char separator = line.size() > 3 ? line[3] : ' ';
  const std::string_view text = TrimAscii(line.size() > 4 ? line.substr(4) : std::string_view());
  if (text.size() == 10 && StartsWithNoCase(text, "pipelining")) pending_pipelining_ = true;
  if (text.size() == 8 && StartsWithNoCase(text, "chunking")) pending_chunking_ = true;
  if (const std::optional<std::uint64_t> limit = SizeKeyword(text)) pending_size_limit_ = *limit;
  if (!pending_text_.empty() && !text.empty()) pending_text_ += ' ';
  pending_text_ += text;
  if (separator == '-') return;

  SmtpReply reply;
  reply.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  reply.text.reserve(4 + pending_text_.size());
  reply.text.append(line.substr(0, 3));
  if (!pending_text_.empty()) reply.text.append(1, ' ').append(pending_text_);
  pending_text_.clear();
  reply_bytes_ = 0;
  if (reply.code == 250) {
    offers_pipelining_ = pending_pipelining_;
    offers_chunking_ = pending_chunking_;
    size_limit_ = pending_size_limit_;
  }
  pending_pipelining_ = false;
  pending_chunking_ = false;
  pending_size_limit_ = 0;
  if (reply.code == 235) authenticated_ = true;
  if (reply.code >= 400) last_refusal_ = reply;
  waiting_.push_back(std::move(reply));
}

std::string SmtpEnhancedStatus(std::string_view reply) {
  // "NNN X.Y.Z text": the class, the subject and the detail of RFC 3463.
  if (reply.size() < 9 || reply[3] != ' ') return {};
  std::string_view rest = reply.substr(4);
  const std::size_t end = std::min(rest.find(' '), rest.size());
  const std::string_view code = rest.substr(0, end);
  if (code.size() < 5 || (code[0] != '2' && code[0] != '4' && code[0] != '5') || code[1] != '.') {
    return {};
  }
  const std::size_t dot = code.find('.', 2);
  auto digits = [](std::string_view part) {
    return !part.empty() && part.size() <= 3 &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (dot == std::string_view::npos || !digits(code.substr(2, dot - 2)) ||
      !digits(code.substr(dot + 1))) {
    return {};
  }
  return std::string(code);
}

}  // namespace pinemail
