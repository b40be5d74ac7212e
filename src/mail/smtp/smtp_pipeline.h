// The mail transactions of one SMTP connection as a machine that holds no
// socket: it is told which messages to send and what the server replied, and
// says what to write next, which reply it waits for and how each
// transaction ended. One engine for every server: without PIPELINING each
// command waits for the reply before it (a pipeline of one command), with it
// a transaction's commands go together (RFC 2920), with CHUNKING as well
// whole transactions do, several before their replies are read (RFC 3030).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message/message_segments.h"
#include "mail/smtp/smtp_payload.h"
#include "mail/smtp/smtp_reply.h"
#include "mail/smtp/smtp_step.h"

namespace pinemail {

// How a transaction ended.
enum class SmtpOutcome {
  kSent,      // the server took the message
  kRefused,   // a reply refused it: `reply`, to `step`
  kLost,      // the connection went after the server had begun on it: it may have the message
  kNotTaken,  // it never got into a transaction of the server: no reply of its own came
              // before the connection went (`reason`), or the server still held an earlier
              // transaction (`reply`, to MAIL); it may go again
};

struct SmtpSettlement {
  std::uint64_t ticket = 0;  // as given to Begin
  SmtpOutcome outcome = SmtpOutcome::kLost;
  SmtpStep step = SmtpStep::kMail;  // the step `reply` answered
  SmtpReply reply;                  // the refusal, unless sent; code 0 when none came
  std::string reason;               // why the connection went, when it did
  bool message_went = false;        // the message's text was written to the server
};

struct SmtpPipelineOptions {
  std::string sender;       // the envelope sender, as MAIL FROM carries it
  bool pipelining = false;  // the server offers PIPELINING
  bool chunking = false;    // and CHUNKING: BDAT carries the message
  std::size_t window = 1;   // transactions open at once, at least 1
  std::size_t share = 0;    // transactions on the connection; 0: no limit
};

class SmtpPipeline {
 public:
  explicit SmtpPipeline(SmtpPipelineOptions options);

  // Whether one more transaction may begin: the connection is in use, fewer
  // than the window are open, its share is not carried, no QUIT or Drain;
  // with DATA, every open transaction has its 354, so that one refused
  // before its message is tried again before the messages after it go.
  bool CanBegin() const;
  // Begins a transaction of `message` (CR LF lines, not dot-stuffed) to
  // `recipient` (its wire form), known by `ticket` in its settlement. Only
  // when CanBegin(). The message is held, not copied, until it is written.
  void Begin(std::uint64_t ticket, std::string_view recipient,
             std::shared_ptr<const MessageSegments> message);
  void Begin(std::uint64_t ticket, std::string_view recipient, std::string_view message);

  // The bytes to write now, taken; empty when nothing may go before a reply.
  SmtpOutput TakeOutput();
  // The step whose reply comes next, when one is awaited.
  std::optional<SmtpStep> Awaited() const;
  // The next reply, to the step Awaited() names.
  void TakeReply(const SmtpReply& reply);
  // The connection failed or went (`reason` says how): every open
  // transaction settles, and nothing more is written.
  void Lose(std::string_view reason);
  // Ends the session: QUIT, after which nothing is written. Transactions
  // still open are lost with `reason` first (their replies would come after
  // the server closed), and no QUIT goes.
  void Quit(std::string_view reason);
  // The run stops: no transaction begins and nothing not written yet goes;
  // the replies of those whose message went may still be taken.
  void Drain();

  // The transactions settled since the last call, in the order begun.
  std::vector<SmtpSettlement> TakeSettled();

  // Transactions begun and not settled yet.
  std::size_t open() const { return open_.size(); }
  // Whether an open transaction's message went: its outcome is on its way.
  bool AwaitsSentMessage() const;
  // The connection carried its share and nothing is open: time for QUIT.
  bool spent() const;
  // The connection is over: lost, closed by the server, or QUIT written.
  bool closed() const { return state_ == State::kClosed; }

 private:
  static constexpr std::uint64_t kSession = 0;  // a command of no transaction

  enum class State { kOpen, kDraining, kQuitting, kClosed };

  // A command written or to be written, and the transaction it serves.
  struct Command {
    SmtpStep step;
    std::uint64_t serial;
    std::string bytes;  // empty once written
    // The message after `bytes` (BDAT, or the data after DATA's 354).
    std::shared_ptr<const MessageSegments> message = nullptr;
  };

  struct Transaction {
    std::uint64_t serial = 0;
    std::uint64_t ticket = 0;
    std::size_t unanswered = 0;  // its commands queued or written whose replies have not come
    std::array<int, 5> codes{};  // the reply codes by step, MAIL to BDAT; 0 while none came
    bool message_went = false;
    SmtpStep refused_at = SmtpStep::kMail;
    SmtpReply refusal;  // its first refusal; code 0 while none
    std::optional<SmtpSettlement> settlement;

    int& code(SmtpStep step) { return codes[static_cast<std::size_t>(step)]; }
    bool heard() const;
  };

  void Queue(SmtpStep step, std::uint64_t serial, std::string bytes,
             std::shared_ptr<const MessageSegments> message = nullptr);
  bool MayWrite() const;
  void Write(Command command);
  Transaction* Find(std::uint64_t serial);
  void Refuse(Transaction& transaction, SmtpStep step, const SmtpReply& reply);
  void DropQueued(std::uint64_t serial);
  void OnMail(Transaction& transaction, const SmtpReply& reply);
  void OnRcpt(Transaction& transaction, const SmtpReply& reply);
  void OnData(Transaction& transaction, const SmtpReply& reply);
  void OnEndOfData(Transaction& transaction, const SmtpReply& reply);
  void OnBdat(Transaction& transaction, const SmtpReply& reply);
  void OnRset(const SmtpReply& reply);
  void Conclude(Transaction& transaction);
  SmtpOutcome RefusedOutcome(const Transaction& transaction) const;
  void ConcludeLost(Transaction& transaction, std::string_view reason);
  void Settle(Transaction& transaction, SmtpOutcome outcome, std::string reason = {});
  void Collect();

  SmtpPipelineOptions options_;
  State state_ = State::kOpen;
  std::uint64_t begun_ = 0;      // transactions begun on the connection; the last one's serial
  bool reset_due_ = false;       // a refused transaction may be held: RSET before the next MAIL
  std::deque<Command> queued_;   // not written yet, in order
  std::deque<Command> awaited_;  // written, their replies to come in order
  std::deque<Transaction> open_;
  std::vector<SmtpSettlement> settled_;
  SmtpOutput output_;
};

}  // namespace pinemail
