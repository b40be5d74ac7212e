// Fuzzes the SMTP pipeline as the transport drives it, against arbitrary
// server replies, and reads what it writes, in small pieces, as a server would. Input: a byte
// of options (bit 0 PIPELINING, bit 1 CHUNKING, bits 2-4 the window less
// one, bits 5-7 Messages Per Connection, 0 for none), a byte for the number
// of messages, then events: a reply (a code from a table, or any code from
// the two bytes after 0xC0-0xEF; one to three lines, fed through the reply
// reader in two pieces), a hang-up (0xF0-0xFD) or the run stopping (0xFE,
// 0xFF). Connections follow each other until the messages or the events run
// out.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/message/message_segments.h"
#include "mail/smtp/smtp_pipeline.h"
#include "mail/smtp/smtp_reply.h"
#include "merge/attached_file.h"

using pinemail::SmtpOutcome;
using pinemail::SmtpPipeline;
using pinemail::SmtpReply;
using pinemail::SmtpSettlement;
using pinemail::SmtpStep;
using pinemail::fuzz::Check;

namespace {

constexpr std::string_view kSender = "taro@example.jp";
constexpr std::array<int, 16> kCodes = {250, 250, 250, 354, 251, 221, 421, 450,
                                        451, 452, 503, 530, 550, 552, 553, 554};

std::string Recipient(std::uint64_t ticket) { return "r" + std::to_string(ticket) + "@example.jp"; }

// Lines starting with dots, some right after a shared file's base64 (a
// segment border on a line start), and every other message without a last
// line end.
std::shared_ptr<const pinemail::MessageSegments> Message(std::uint64_t ticket) {
  static const auto file = pinemail::EncodeAttachedFile("f", std::string(100, 'x'));
  auto message = std::make_shared<pinemail::MessageSegments>();
  message->Append("Subject: " + std::to_string(ticket) + "\r\n\r\n");
  if (ticket % 3 != 0) message->AppendEncoded(file);
  message->Append(".\r\n..x\r\n");
  if (ticket % 3 == 1) message->AppendEncoded(file);
  message->Append(ticket % 2 ? ".end\r\n" : "end");
  return message;
}

bool Positive(int code) { return code / 100 == 2; }

// The events of the input, one at a time.
class Events {
 public:
  Events(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A reply of `lines` lines as a server sends it, read back by the reply
// reader in two pieces.
SmtpReply ReadReply(int code, int lines, std::size_t cut) {
  std::string bytes;
  for (int i = 1; i <= lines; ++i) {
    bytes += std::to_string(code) + (i < lines ? "-" : " ") + "line " + std::to_string(i) + "\r\n";
  }
  pinemail::SmtpReplyTracker tracker;
  cut %= bytes.size() + 1;
  tracker.Feed(std::string_view(bytes).substr(0, cut));
  tracker.Feed(std::string_view(bytes).substr(cut));
  SmtpReply reply;
  Check(tracker.TakeReply(&reply) && reply.code == code, "the reply reader gives the reply", bytes);
  return reply;
}

// What a server reads from the pipeline's bytes, and the replies it gave to
// each transaction's commands.
class Server {
 public:
  struct Transaction {
    std::uint64_t ticket = 0;
    std::array<int, 5> codes{};  // by step, MAIL to BDAT; 0 while unanswered
    bool message = false;        // its whole message was read
    bool answered = false;       // any of its commands was
  };

  void Begun(std::uint64_t ticket) { transactions_.push_back({ticket}); }
  Transaction& Of(std::uint64_t ticket);
  void Read(std::string_view bytes);
  // The reply to the oldest command not answered yet: the one the pipeline
  // must be waiting for.
  void Answer(SmtpStep awaited, int code);

 private:
  enum class Mode { kCommands, kDataReply, kData, kQuit };
  void Command(std::string_view line, std::string_view* rest);
  void Data(std::string_view* rest);
  void Wrote(SmtpStep step) { unanswered_.push_back({step, mails_}); }

  std::vector<Transaction> transactions_;  // in the order begun, which MAIL follows
  std::deque<std::pair<SmtpStep, std::size_t>> unanswered_;  // with the MAIL count then
  std::size_t mails_ = 0;
  Mode mode_ = Mode::kCommands;
};

Server::Transaction& Server::Of(std::uint64_t ticket) {
  for (Transaction& transaction : transactions_) {
    if (transaction.ticket == ticket) return transaction;
  }
  pinemail::fuzz::Fail("a settlement for a ticket never begun");
}

void Server::Read(std::string_view bytes) {
  while (!bytes.empty()) {
    Check(mode_ != Mode::kQuit, "nothing is written after QUIT", bytes);
    Check(mode_ != Mode::kDataReply, "nothing is written before DATA's reply", bytes);
    if (mode_ == Mode::kData) {
      Data(&bytes);
      continue;
    }
    const std::size_t end = bytes.find("\r\n");
    Check(end != std::string_view::npos, "commands are whole lines", bytes);
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 2);
    Command(line, &bytes);
  }
}

void Server::Command(std::string_view line, std::string_view* rest) {
  if (line == "MAIL FROM:<" + std::string(kSender) + ">") {
    Check(mails_ < transactions_.size(), "a MAIL for each transaction begun", line);
    ++mails_;
    return Wrote(SmtpStep::kMail);
  }
  const Transaction* current = mails_ > 0 ? &transactions_[mails_ - 1] : nullptr;
  if (line.starts_with("RCPT TO:")) {
    Check(current != nullptr && line == "RCPT TO:<" + Recipient(current->ticket) + ">",
          "RCPT names the transaction's recipient", line);
    return Wrote(SmtpStep::kRcpt);
  }
  if (line == "DATA") {
    mode_ = Mode::kDataReply;
    return Wrote(SmtpStep::kData);
  }
  if (line == "RSET") return Wrote(SmtpStep::kRset);
  if (line == "QUIT") {
    mode_ = Mode::kQuit;
    return Wrote(SmtpStep::kQuit);
  }
  const std::string expected = current ? Message(current->ticket)->Join() : "";
  Check(current != nullptr && line == "BDAT " + std::to_string(expected.size()) + " LAST" &&
            rest->starts_with(expected),
        "BDAT carries the transaction's message", line);
  rest->remove_prefix(expected.size());
  transactions_[mails_ - 1].message = true;
  Wrote(SmtpStep::kBdat);
}

// The dot-stuffed message up to the line ".", or that line alone.
void Server::Data(std::string_view* rest) {
  std::string message;
  for (;;) {
    const std::size_t end = rest->find("\r\n");
    Check(end != std::string_view::npos, "the data ends with a whole line", *rest);
    std::string_view line = rest->substr(0, end);
    rest->remove_prefix(end + 2);
    if (line == ".") break;
    if (line.starts_with('.')) line.remove_prefix(1);
    message.append(line).append("\r\n");
  }
  mode_ = Mode::kCommands;
  Transaction& current = transactions_[mails_ - 1];
  std::string expected = Message(current.ticket)->Join();
  if (!expected.ends_with("\r\n")) expected += "\r\n";
  Check(message.empty() || message == expected, "the data is the message", message);
  current.message = !message.empty();
  Wrote(SmtpStep::kEndOfData);
}

void Server::Answer(SmtpStep awaited, int code) {
  Check(!unanswered_.empty() && unanswered_.front().first == awaited,
        "the pipeline waits for the reply to the oldest command");
  const auto [step, mails] = unanswered_.front();
  unanswered_.pop_front();
  if (step == SmtpStep::kData) mode_ = code == 354 ? Mode::kData : Mode::kCommands;
  if (mails == 0 || step == SmtpStep::kRset || step == SmtpStep::kQuit) return;
  Transaction& transaction = transactions_[mails - 1];
  transaction.answered = true;
  transaction.codes[static_cast<std::size_t>(step)] = code;
}

// A settlement says no more than the server's replies did.
void CheckSettlement(const SmtpSettlement& settled, Server::Transaction& server) {
  const auto code = [&](SmtpStep step) { return server.codes[static_cast<std::size_t>(step)]; };
  Check(settled.message_went == server.message, "the message went exactly when the server read it");
  const int final_code =
      code(SmtpStep::kEndOfData) != 0 ? code(SmtpStep::kEndOfData) : code(SmtpStep::kBdat);
  if (settled.outcome == SmtpOutcome::kSent) {
    Check(server.message && Positive(code(SmtpStep::kRcpt)) && Positive(final_code),
          "nothing is sent that the replies did not accept");
  }
  if (settled.reply.code != 0) {
    const bool agreed =
        settled.step == SmtpStep::kData ? settled.reply.code == 354 : Positive(settled.reply.code);
    Check(settled.outcome != SmtpOutcome::kSent && code(settled.step) == settled.reply.code &&
              !agreed,
          "a refusal is the reply its step got, not the one it asked for");
  } else if (settled.outcome == SmtpOutcome::kNotTaken) {
    Check(!server.answered, "a transaction not taken had no reply");
  }
}

// One connection: messages from `*next` on are handed over as the pipeline
// has room. False when the run stopped.
bool RunConnection(const pinemail::SmtpPipelineOptions& options, std::uint64_t messages,
                   std::uint64_t* next, Events& events) {
  SmtpPipeline pipeline(options);
  Server server;
  std::uint64_t begun = 0;
  std::uint64_t settled = 0;  // in the order begun: ticket first + settled
  const std::uint64_t first = *next;
  bool stopped = false;
  const auto collect = [&] {
    for (const SmtpSettlement& settlement : pipeline.TakeSettled()) {
      Check(settlement.ticket == first + settled++, "every transaction settles once, in order");
      CheckSettlement(settlement, server.Of(settlement.ticket));
    }
  };
  for (;;) {
    while (!stopped && *next < messages && pipeline.CanBegin()) {
      server.Begun(*next);
      pipeline.Begin(*next, Recipient(*next), Message(*next));
      ++*next;
      ++begun;
    }
    Check(pipeline.open() <= options.window, "the window holds");
    Check(options.share == 0 || begun <= options.share, "the connection carries its share");
    const std::string out = pipeline.TakeOutput().ReadAll(1 + *next % 7);
    Check(!stopped || out.empty(), "nothing new goes once the run stopped");
    server.Read(out);
    collect();
    if (pipeline.closed() && !pipeline.Awaited()) break;
    if (stopped && !pipeline.AwaitsSentMessage()) {
      pipeline.Lose("stopped");
      continue;
    }
    if (!pipeline.Awaited()) {
      Check(pipeline.open() == 0, "an open transaction writes or waits");
      if (stopped || *next == messages || pipeline.spent()) pipeline.Quit("closing");
      continue;
    }
    if (events.done()) {
      pipeline.Lose("no more events");
      continue;
    }
    const std::uint8_t event = events.Next();
    if (event >= 0xFE) {
      stopped = true;
      pipeline.Drain();
    } else if (event >= 0xF0) {
      pipeline.Lose("hang-up");
    } else {
      int code = kCodes[event % kCodes.size()];
      if (event >= 0xC0) {
        const int low = events.Next();
        code = 100 + (low | events.Next() << 8) % 500;
      }
      const SmtpReply reply = ReadReply(code, 1 + (event >> 4) % 3, events.Next());
      server.Answer(*pipeline.Awaited(), reply.code);
      pipeline.TakeReply(reply);
    }
  }
  Check(settled == begun && pipeline.open() == 0, "every transaction handed over settles");
  return !stopped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  pinemail::SmtpPipelineOptions options;
  options.sender = kSender;
  options.pipelining = (data[0] & 1) != 0;
  options.chunking = (data[0] & 2) != 0;
  options.window = ((data[0] >> 2) & 7) + 1;
  options.share = data[0] >> 5;
  const std::uint64_t messages = data[1] % 12 + 1;
  Events events(data + 2, size - 2);
  std::uint64_t next = 0;
  while (next < messages && !events.done() && RunConnection(options, messages, &next, events)) {
  }
  return 0;
}
