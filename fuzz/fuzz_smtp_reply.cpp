// Fuzzes the SMTP reply reader with what a server may send, and the failure
// text made from its replies. Input: a byte for the size of the pieces the
// stream arrives in, a byte for how often the stream repeats (so that short
// inputs reach the limits; most inputs are read once, which keeps the
// fuzzer fast), the password up to a line feed, then the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/smtp/smtp_refusal.h"
#include "mail/smtp/smtp_refusal_advice.h"
#include "mail/smtp/smtp_reply.h"
#include "text/base64.h"
#include "text/utf8.h"

using pinemail::SmtpReply;
using pinemail::SmtpReplyTracker;
using pinemail::fuzz::Check;

namespace {

constexpr std::string_view kUserName = "taro";

// What a reader made of a whole stream.
struct Reading {
  std::vector<SmtpReply> replies;
  std::string failure;
  bool offers_pipelining = false;
  bool authenticated = false;
  SmtpReply last_refusal;
};

// Feeds `stream` in pieces of `piece` bytes, taking the whole replies after
// each piece as the transport does, and checks what must hold throughout.
Reading Read(std::string_view stream, std::size_t piece) {
  SmtpReplyTracker tracker;
  Reading reading;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    tracker.Feed(stream.substr(at, piece));
    Check(tracker.pending_bytes() <= pinemail::kSmtpReplyLimit, "the reply in progress is bounded",
          stream.substr(0, 256));
    SmtpReply reply;
    while (tracker.TakeReply(&reply)) reading.replies.push_back(reply);
  }
  reading.failure = tracker.failure();
  reading.offers_pipelining = tracker.offers_pipelining();
  reading.authenticated = tracker.authenticated();
  reading.last_refusal = tracker.last_refusal();
  if (!reading.failure.empty()) {
    tracker.Feed("250 ok\r\n");
    SmtpReply reply;
    Check(!tracker.TakeReply(&reply), "nothing is read after a protocol error");
  }
  return reading;
}

bool Same(const SmtpReply& a, const SmtpReply& b) { return a.code == b.code && a.text == b.text; }

void CheckReply(const SmtpReply& reply) {
  Check(reply.code >= 0 && reply.code <= 999, "a code has three digits", reply.text);
  Check(reply.text.size() >= 3 &&
            reply.text.compare(0, 3, std::to_string(reply.code + 1000), 1, 3) == 0,
        "the text starts with the code", reply.text);
  Check(reply.text.find('\n') == std::string::npos, "a reply is one line", reply.text);
  Check(reply.text.size() <= pinemail::kSmtpReplyLimit, "a reply is bounded", reply.text);
}

// The reason shown for a refusal holds no form of the credentials and stays
// on one printable line. The advice the program adds after the server's
// text is its own, and a short password may be a part of it.
void CheckReason(const SmtpReply& reply, std::string_view password) {
  const std::string shown =
      pinemail::SmtpFailureReason(reply.code, reply.text, "", kUserName, password);
  std::string_view reason = shown;
  const std::string_view advice = pinemail::RefusalAdvice(reply.code, reply.text);
  if (!advice.empty()) {
    const std::string added = " (" + std::string(advice) + ")";
    Check(reason.ends_with(added), "the advice follows the server's text", shown);
    reason.remove_suffix(added.size());
  }
  for (unsigned char c : shown) {
    Check(c >= 0x20 && c != 0x7f, "the reason has no control characters", shown);
  }
  Check(pinemail::IsValidUtf8(shown), "the reason is UTF-8", shown);
  std::string plain(1, '\0');
  plain.append(kUserName);
  plain += '\0';
  plain.append(password);
  for (const std::string& secret :
       {std::string(password), pinemail::EncodeBase64(password), pinemail::EncodeBase64(plain)}) {
    Check(reason.find(secret) == std::string::npos, "the credentials are masked", reason);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t piece = data[0] % 64 + 1;
  const std::size_t repeat = data[1] < 0xE0 ? 1 : (data[1] - 0xDF) * 4;
  auto fields = pinemail::fuzz::SplitFields(pinemail::fuzz::AsText(data + 2, size - 2), '\n', 2);
  // The password comes from the settings as UTF-8. A mask is stars; a
  // password with a star could be found in its own mask.
  const std::string_view password = fields[0];
  if (!pinemail::IsValidUtf8(password) || password.find('*') != std::string_view::npos) return 0;
  std::string stream;
  // Enough to pass either limit, and no more.
  constexpr std::size_t kMaxStream = pinemail::kSmtpReplyLimit + 2 * pinemail::kSmtpLineLimit;
  for (std::size_t i = 0; i < repeat && stream.size() < kMaxStream; ++i) stream.append(fields[1]);

  const Reading whole = Read(stream, stream.size() + 1);
  // Long streams in fewer pieces: a feed for every byte of 100 KiB would
  // slow the fuzzer down and find nothing that short streams do not.
  const Reading pieces = Read(stream, std::max(piece, stream.size() / 256));
  // Only the new bytes are searched for a line end: how the bytes arrive
  // must not change what is read.
  Check(whole.replies.size() == pieces.replies.size(), "pieces give the same replies", stream);
  for (std::size_t i = 0; i < whole.replies.size(); ++i) {
    Check(Same(whole.replies[i], pieces.replies[i]), "pieces give the same replies", stream);
    CheckReply(whole.replies[i]);
  }
  Check(whole.failure == pieces.failure, "pieces give the same failure", stream);
  Check(whole.offers_pipelining == pieces.offers_pipelining &&
            whole.authenticated == pieces.authenticated &&
            Same(whole.last_refusal, pieces.last_refusal),
        "pieces give the same capabilities", stream);
  if (whole.last_refusal.code != 0 && !password.empty()) CheckReason(whole.last_refusal, password);
  return 0;
}
