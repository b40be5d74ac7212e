// The mail transactions of an SMTP connection: which command goes when, what
// each reply means for its transaction, and how the transaction ends.
#include "mail/smtp/smtp_pipeline.h"

#include <algorithm>
#include <utility>

#include "mail/smtp/smtp_payload.h"

namespace pinemail {
namespace {

bool Positive(const SmtpReply& reply) { return reply.code / 100 == 2; }

}  // namespace

SmtpPipeline::SmtpPipeline(SmtpPipelineOptions options) : options_(std::move(options)) {
  options_.window = std::max<std::size_t>(options_.window, 1);
  // BDAT only pipelined: without PIPELINING every command waits for its
  // reply anyway, and DATA does as well.
  options_.chunking = options_.chunking && options_.pipelining;
}

bool SmtpPipeline::Transaction::heard() const {
  return std::any_of(codes.begin(), codes.end(), [](int code) { return code != 0; });
}

bool SmtpPipeline::CanBegin() const {
  const bool past_data =
      options_.chunking || std::all_of(open_.begin(), open_.end(), [](const Transaction& open) {
        return open.codes[static_cast<std::size_t>(SmtpStep::kData)] == 354;
      });
  return state_ == State::kOpen && open_.size() < options_.window && past_data &&
         (options_.share == 0 || begun_ < options_.share);
}

void SmtpPipeline::Begin(std::uint64_t ticket, std::string_view recipient,
                         std::shared_ptr<const MessageSegments> message) {
  if (!CanBegin() || message == nullptr) return;
  Transaction& transaction = open_.emplace_back();
  transaction.serial = ++begun_;
  transaction.ticket = ticket;
  const std::uint64_t serial = transaction.serial;
  Queue(SmtpStep::kMail, serial, "MAIL FROM:<" + options_.sender + ">\r\n");
  Queue(SmtpStep::kRcpt, serial, "RCPT TO:<" + std::string(recipient) + ">\r\n");
  if (options_.chunking) {
    std::string command = "BDAT " + std::to_string(message->size()) + " LAST\r\n";
    Queue(SmtpStep::kBdat, serial, std::move(command), std::move(message));
  } else {
    Queue(SmtpStep::kData, serial, "DATA\r\n");
    Queue(SmtpStep::kEndOfData, serial, {}, std::move(message));
  }
}

void SmtpPipeline::Begin(std::uint64_t ticket, std::string_view recipient,
                         std::string_view message) {
  auto segments = std::make_shared<MessageSegments>();
  segments->Append(message);
  Begin(ticket, recipient, std::move(segments));
}

void SmtpPipeline::Queue(SmtpStep step, std::uint64_t serial, std::string bytes,
                         std::shared_ptr<const MessageSegments> message) {
  if (Transaction* transaction = Find(serial)) ++transaction->unanswered;
  queued_.push_back({step, serial, std::move(bytes), std::move(message)});
}

// Without PIPELINING a command waits for every reply before it. With it,
// DATA ends a group of commands (RFC 2920): what follows waits for its reply,
// the message for the 354, and the next transaction for the reply that says
// whether the server holds a refused one and needs an RSET first.
bool SmtpPipeline::MayWrite() const {
  if (awaited_.empty()) return true;
  return options_.pipelining && awaited_.back().step != SmtpStep::kData;
}

SmtpOutput SmtpPipeline::TakeOutput() {
  const bool writing = state_ == State::kOpen || state_ == State::kQuitting;
  while (writing && !closed() && !queued_.empty() && MayWrite()) {
    if (reset_due_ && queued_.front().step == SmtpStep::kMail) {
      reset_due_ = false;
      Write({SmtpStep::kRset, kSession, "RSET\r\n", nullptr});
      continue;
    }
    Command next = std::move(queued_.front());
    queued_.pop_front();
    Write(std::move(next));
  }
  return std::exchange(output_, SmtpOutput());
}

void SmtpPipeline::Write(Command command) {
  if (command.step == SmtpStep::kQuit) state_ = State::kClosed;
  if (Transaction* transaction = Find(command.serial)) {
    transaction->message_went = transaction->message_went || command.step == SmtpStep::kBdat ||
                                command.step == SmtpStep::kEndOfData;
  }
  output_.AddText(command.bytes);
  output_.AddMessage(std::move(command.message), command.step == SmtpStep::kEndOfData);
  command.bytes = std::string();
  awaited_.push_back(std::move(command));
}

std::optional<SmtpStep> SmtpPipeline::Awaited() const {
  if (awaited_.empty()) return std::nullopt;
  return awaited_.front().step;
}

SmtpPipeline::Transaction* SmtpPipeline::Find(std::uint64_t serial) {
  if (serial == kSession || open_.empty() || serial < open_.front().serial) return nullptr;
  const std::uint64_t at = serial - open_.front().serial;
  return at < open_.size() ? &open_[at] : nullptr;
}

// Hands the reply to its step's handler; a 421 closes the connection
// (RFC 5321 3.8), whatever the step, once the reply has counted.
void SmtpPipeline::TakeReply(const SmtpReply& reply) {
  if (awaited_.empty()) return;
  const Command answered = std::move(awaited_.front());
  awaited_.pop_front();
  Transaction* transaction = Find(answered.serial);
  if (transaction != nullptr) {
    transaction->code(answered.step) = reply.code;
    --transaction->unanswered;
  }
  switch (answered.step) {
    case SmtpStep::kMail:
      if (transaction != nullptr) OnMail(*transaction, reply);
      break;
    case SmtpStep::kRcpt:
      if (transaction != nullptr) OnRcpt(*transaction, reply);
      break;
    case SmtpStep::kData:
      if (transaction != nullptr) OnData(*transaction, reply);
      break;
    case SmtpStep::kEndOfData:
      // With no transaction: the empty message after a DATA that the
      // server took although the transaction was refused; its reply says
      // nothing about any message.
      if (transaction != nullptr) OnEndOfData(*transaction, reply);
      break;
    case SmtpStep::kBdat:
      if (transaction != nullptr) OnBdat(*transaction, reply);
      break;
    case SmtpStep::kRset:
      OnRset(reply);
      break;
    case SmtpStep::kQuit:
      break;
  }
  if (transaction != nullptr && transaction->unanswered == 0) Conclude(*transaction);
  if (reply.code == 421 && state_ != State::kClosed) Lose(reply.text);
  Collect();
}

// The first refusal is the one the transaction is judged by; the commands
// of it not written yet stay unwritten.
void SmtpPipeline::Refuse(Transaction& transaction, SmtpStep step, const SmtpReply& reply) {
  if (transaction.refusal.code == 0) {
    transaction.refusal = reply;
    transaction.refused_at = step;
  }
  DropQueued(transaction.serial);
}

void SmtpPipeline::DropQueued(std::uint64_t serial) {
  Transaction* transaction = Find(serial);
  std::erase_if(queued_, [&](const Command& command) {
    if (command.serial != serial) return false;
    if (transaction != nullptr) --transaction->unanswered;
    return true;
  });
}

void SmtpPipeline::OnMail(Transaction& transaction, const SmtpReply& reply) {
  if (!Positive(reply)) Refuse(transaction, SmtpStep::kMail, reply);
}

void SmtpPipeline::OnRcpt(Transaction& transaction, const SmtpReply& reply) {
  if (!Positive(reply)) Refuse(transaction, SmtpStep::kRcpt, reply);
}

// A server that took DATA although the transaction was refused gets an
// empty message, which it must refuse for want of recipients.
void SmtpPipeline::OnData(Transaction& transaction, const SmtpReply& reply) {
  if (reply.code != 354) return Refuse(transaction, SmtpStep::kData, reply);
  if (transaction.refusal.code != 0) {
    queued_.push_front({SmtpStep::kEndOfData, kSession, ".\r\n", nullptr});
  }
}

void SmtpPipeline::OnEndOfData(Transaction& transaction, const SmtpReply& reply) {
  if (!Positive(reply)) Refuse(transaction, SmtpStep::kEndOfData, reply);
}

void SmtpPipeline::OnBdat(Transaction& transaction, const SmtpReply& reply) {
  if (!Positive(reply)) Refuse(transaction, SmtpStep::kBdat, reply);
}

// A server that cannot reset is in a state no later command can rely on.
void SmtpPipeline::OnRset(const SmtpReply& reply) {
  if (!Positive(reply) && reply.code != 421) Lose(reply.text);
}

// Every reply of the transaction came: its outcome. A recipient and a
// message the server accepted were delivered, even when MAIL was refused:
// a server still holding an earlier transaction took them into that one,
// and sending the message again would deliver it twice.
void SmtpPipeline::Conclude(Transaction& transaction) {
  if (transaction.settlement) return;
  const SmtpReply& refusal = transaction.refusal;
  const int message_code =
      std::max(transaction.code(SmtpStep::kEndOfData), transaction.code(SmtpStep::kBdat));
  const bool accepted = transaction.code(SmtpStep::kRcpt) / 100 == 2 && message_code / 100 == 2;
  const bool delivered =
      accepted &&
      (refusal.code == 0 || (options_.chunking && transaction.refused_at == SmtpStep::kMail));
  if (delivered) return Settle(transaction, SmtpOutcome::kSent);
  // After a refused end of data the transaction is over; before it, and
  // after any refused BDAT transaction, the server may still hold it.
  reset_due_ = reset_due_ || options_.chunking || transaction.refused_at != SmtpStep::kEndOfData;
  Settle(transaction, RefusedOutcome(transaction));
}

// A MAIL refused as out of sequence (503) in a BDAT transaction: the server
// still held an earlier one, and this one never began.
SmtpOutcome SmtpPipeline::RefusedOutcome(const Transaction& transaction) const {
  const bool held_before = options_.chunking && transaction.refused_at == SmtpStep::kMail &&
                           transaction.refusal.code == 503;
  return held_before ? SmtpOutcome::kNotTaken : SmtpOutcome::kRefused;
}

void SmtpPipeline::ConcludeLost(Transaction& transaction, std::string_view reason) {
  if (transaction.settlement) return;
  if (transaction.refusal.code != 0) {
    return Settle(transaction, RefusedOutcome(transaction), std::string(reason));
  }
  Settle(transaction, transaction.heard() ? SmtpOutcome::kLost : SmtpOutcome::kNotTaken,
         std::string(reason));
}

// The one place a transaction's outcome is set.
void SmtpPipeline::Settle(Transaction& transaction, SmtpOutcome outcome, std::string reason) {
  SmtpSettlement& settlement = transaction.settlement.emplace();
  settlement.ticket = transaction.ticket;
  settlement.outcome = outcome;
  settlement.message_went = transaction.message_went;
  settlement.reason = std::move(reason);
  if (outcome != SmtpOutcome::kSent && transaction.refusal.code != 0) {
    settlement.step = transaction.refused_at;
    settlement.reply = transaction.refusal;
  }
}

// Settled transactions leave in the order they began.
void SmtpPipeline::Collect() {
  while (!open_.empty() && open_.front().settlement) {
    settled_.push_back(std::move(*open_.front().settlement));
    open_.pop_front();
  }
}

void SmtpPipeline::Lose(std::string_view reason) {
  state_ = State::kClosed;
  queued_.clear();
  awaited_.clear();
  for (Transaction& transaction : open_) ConcludeLost(transaction, reason);
  Collect();
}

void SmtpPipeline::Quit(std::string_view reason) {
  if (closed() || state_ == State::kQuitting) return;
  if (!open_.empty()) return Lose(reason);
  queued_.clear();
  reset_due_ = false;
  state_ = State::kQuitting;
  queued_.push_back({SmtpStep::kQuit, kSession, "QUIT\r\n", nullptr});
}

void SmtpPipeline::Drain() {
  if (closed()) return;
  state_ = State::kDraining;
  for (const Transaction& transaction : open_) DropQueued(transaction.serial);
  queued_.clear();
}

std::vector<SmtpSettlement> SmtpPipeline::TakeSettled() { return std::exchange(settled_, {}); }

bool SmtpPipeline::AwaitsSentMessage() const {
  return std::any_of(open_.begin(), open_.end(),
                     [](const Transaction& transaction) { return transaction.message_went; });
}

bool SmtpPipeline::spent() const {
  return options_.share != 0 && begun_ >= options_.share && open_.empty();
}

}  // namespace pinemail
