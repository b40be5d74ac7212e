// Sends mail over SMTP: the connection opened once per run (and again when
// lost), the run's messages handed to the pipeline of mail transactions on
// it, and each message's outcome given back to its own call.
#include "mail/smtp/smtp_transport.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mail/message/message_writer.h"
#include "mail/net/curl_session.h"
#include "mail/smtp/smtp_connection.h"
#include "mail/smtp/smtp_pipeline.h"
#include "mail/smtp/smtp_refusal.h"

namespace pinemail {
namespace {

// With CHUNKING: the most transactions handed over before their replies are
// read. More would gain little once the round trip is covered, and each
// leaves the server holding one more message of which the run has no
// outcome yet. With PIPELINING alone: one message in its data and the next
// one's commands beside it. Without: one at a time.
constexpr std::size_t kChunkingWindow = 8;
constexpr std::size_t kPipeliningWindow = 2;

// Bytes handed to the connection at a time: the messages are read out of
// their segments into a buffer of this size, never joined whole.
constexpr std::size_t kWriteChunk = 256 * 1024;

constexpr std::string_view kClosingReason = "接続を閉じました";
constexpr std::string_view kStoppedReason = "送信を中断しました";

// Why a message of `size` bytes does not go to a server that takes `limit`.
std::string OversizeReason(std::uint64_t size, std::uint64_t limit) {
  return "メッセージが大きすぎます: " + std::to_string(size) + " バイト、サーバーの上限は " +
         std::to_string(limit) + " バイトです";
}

// Writes all of `output` to `connection` through `buffer`, kWriteChunk
// bytes or so at a time. False with `error` when the connection failed.
bool WriteOutput(SmtpConnection& connection, SmtpOutput output, std::string* buffer,
                 std::string* error) {
  buffer->clear();
  while (output.Read(buffer, kWriteChunk)) {
    if (!connection.Write(*buffer, error)) return false;
    buffer->clear();
  }
  return true;
}

class SmtpTransport final : public MailTransport {
 public:
  SmtpTransport(SmtpEndpoint endpoint, Mailbox sender, std::size_t messages_per_connection,
                MessageStamps stamps, TransportTuning tuning)
      : sender_(std::move(sender)),
        stamps_(std::move(stamps)),
        messages_per_connection_(messages_per_connection),
        connection_(std::move(endpoint), std::move(tuning)) {}
  ~SmtpTransport() override { SignOff(); }
  SmtpTransport(const SmtpTransport&) = delete;
  SmtpTransport& operator=(const SmtpTransport&) = delete;

  MailResult SignOn(const std::string& user_name, const std::string& password) override;
  MailResult Send(const OutgoingMessage& message) override { return SendAhead(message, {}); }
  MailResult SendAhead(const OutgoingMessage& message,
                       std::span<const OutgoingMessage* const> ahead) override;
  std::vector<std::pair<const OutgoingMessage*, MailResult>> Settle() override;
  void SignOff() override;

 private:
  // A message handed to the server, until its own call takes its outcome.
  struct Handover {
    const OutgoingMessage* message = nullptr;
    std::uint64_t ticket = 0;
    std::string message_id;
    std::optional<SmtpSettlement> settlement;
    // Why it was kept from the server (larger than the server takes); it
    // then fails alone, and the server never hears of it.
    std::string oversize;
  };
  // What one call did so far: a message goes again at most once, and not
  // after it was lost over a connection opened for it.
  struct Attempt {
    bool reconnected = false;
    bool resent = false;
  };

  bool Connect(std::string* failure, SmtpReply* refusal);
  MailResult Reconnect();
  void Quit();
  std::optional<MailResult> TakeOutcome(const OutgoingMessage& message, Attempt* attempt);
  void Advance(const OutgoingMessage& message);
  void BeginQueued();
  void Begin(const OutgoingMessage& message);
  void Exchange();
  void Absorb();
  Handover* Find(const OutgoingMessage* message);
  void Forget(const OutgoingMessage& message);
  MailResult Result(const Handover& handover) const;
  MailResult Refusal(const SmtpReply& reply, SmtpStep step) const;

  Mailbox sender_;
  MessageStamps stamps_;
  std::size_t messages_per_connection_;  // 0: no limit
  SmtpConnection connection_;
  std::optional<SmtpPipeline> pipeline_;  // the transactions of the connection in use
  std::string user_name_;
  std::string password_;    // for AUTH on a new connection, and to mask it in failure texts
  bool signed_on_ = false;  // a connection that was lost is made again
  std::deque<Handover> handed_;
  // The messages of the call in hand that may begin: its own, then those ahead.
  std::vector<const OutgoingMessage*> queue_;
  std::uint64_t tickets_ = 0;
  // Kept from write to write: a buffer made anew each time would cost its
  // pages again for every message.
  std::string write_buffer_;
};

// Opens a connection and the pipeline for it.
bool SmtpTransport::Connect(std::string* failure, SmtpReply* refusal) {
  if (!connection_.Open(user_name_, password_, failure, refusal)) return false;
  SmtpPipelineOptions options;
  options.sender = sender_.address;
  options.pipelining = connection_.offers_pipelining();
  options.chunking = options.pipelining && connection_.offers_chunking();
  options.window = options.chunking ? kChunkingWindow : options.pipelining ? kPipeliningWindow : 1;
  options.share = messages_per_connection_;
  pipeline_.emplace(std::move(options));
  return true;
}

// The connection was lost after an earlier message, the server closed it
// with a refusal, or it carried its share of messages. A refusal while it
// opens concerns the session.
MailResult SmtpTransport::Reconnect() {
  std::string reason;
  SmtpReply refusal;
  if (Connect(&reason, &refusal)) return MailResult::Done();
  if (refusal.code == 0) return MailResult::ConnectionLost(reason);
  return MailResult::Refused(MailOutcome::kSessionRefused, reason, refusal.code,
                             SmtpEnhancedStatus(refusal.text));
}

// A polite end of the connection; the reply is waited for briefly, and a
// server that has gone already changes nothing. A transaction still open
// would take the QUIT for its message: the connection is dropped instead.
void SmtpTransport::Quit() {
  if (pipeline_ && connection_.is_open()) {
    pipeline_->Quit(kClosingReason);
    Absorb();
    std::string error;
    SmtpOutput out = pipeline_->TakeOutput();
    SmtpReply reply;
    bool talking = !out.empty() && WriteOutput(connection_, std::move(out), &write_buffer_, &error);
    while (talking && pipeline_->Awaited()) {
      talking = connection_.ReadReply(SmtpReplyDeadline(*pipeline_->Awaited()), &reply, &error);
      if (talking) pipeline_->TakeReply(reply);
    }
  }
  connection_.Close();
}

MailResult SmtpTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  if (!StartCurl()) return MailResult::Failed(std::string(kCurlNotStartedReason));
  user_name_ = user_name;
  password_ = password;
  std::string failure;
  SmtpReply refusal;
  if (!Connect(&failure, &refusal)) {
    password_.clear();
    return MailResult::Failed(failure);
  }
  signed_on_ = true;
  return MailResult::Done();
}

// The message goes with those ahead of it as far as the pipeline has room;
// the replies come in order and settle the transactions in order, and the
// outcome of `message` alone is returned.
MailResult SmtpTransport::SendAhead(const OutgoingMessage& message,
                                    std::span<const OutgoingMessage* const> ahead) {
  if (!signed_on_) return MailResult::Failed(std::string(kNotSignedOnReason));
  if (!IsPlainAddress(message.recipient_address)) {
    return MailResult::Failed(std::string(kBadAddressReason));
  }
  queue_.clear();
  if (Find(&message) == nullptr) queue_.push_back(&message);
  for (const OutgoingMessage* next : ahead) {
    if (IsPlainAddress(next->recipient_address)) queue_.push_back(next);
  }
  Attempt attempt;
  for (;;) {
    if (std::optional<MailResult> result = TakeOutcome(message, &attempt)) {
      queue_.clear();
      return std::move(*result);
    }
    if (!connection_.is_open()) {
      MailResult connected = Reconnect();
      if (!connected.ok()) {
        queue_.clear();
        return connected;
      }
      attempt.reconnected = true;
    }
    Advance(message);
  }
}

// The outcome of `message` once settled. One that never reached the server
// (the kept connection had died, or the server was still busy with a
// refused transaction) goes once more; over a connection opened for it, a
// loss is final.
std::optional<MailResult> SmtpTransport::TakeOutcome(const OutgoingMessage& message,
                                                     Attempt* attempt) {
  const Handover* handover = Find(&message);
  if (handover != nullptr && !handover->oversize.empty()) {
    MailResult result = MailResult::Failed(handover->oversize);
    Forget(message);
    return result;
  }
  if (handover == nullptr || !handover->settlement) return std::nullopt;
  const SmtpSettlement& settlement = *handover->settlement;
  const bool lost = !settlement.reason.empty();
  if (settlement.outcome == SmtpOutcome::kNotTaken && !attempt->resent &&
      !(lost && attempt->reconnected)) {
    attempt->resent = true;
    Forget(message);
    queue_.insert(queue_.begin(), &message);
    return std::nullopt;
  }
  MailResult result = Result(*handover);
  Forget(message);
  // The connection has carried its share: closed now rather than left idle
  // while the run paces, and opened again for the next message.
  if (pipeline_ && pipeline_->spent()) Quit();
  return result;
}

// One step towards the outcome: a new connection when this one carried its
// share, else what may begin, then one exchange with the server.
void SmtpTransport::Advance(const OutgoingMessage& message) {
  if (Find(&message) == nullptr && !pipeline_->CanBegin() && pipeline_->open() == 0) {
    return Quit();
  }
  BeginQueued();
  // A message kept from the server is settled already: nothing to exchange.
  const Handover* own = Find(&message);
  if (own == nullptr || own->oversize.empty()) Exchange();
}

// Begins the queued messages not handed over yet, in order, as far as there
// is room.
void SmtpTransport::BeginQueued() {
  for (const OutgoingMessage* next : queue_) {
    if (Find(next) != nullptr) continue;
    if (!pipeline_->CanBegin()) break;
    Begin(*next);
  }
}

void SmtpTransport::Begin(const OutgoingMessage& message) {
  const MessageFields fields = FieldsFor(message, sender_, stamps_);
  Handover& handover = handed_.emplace_back();
  handover.message = &message;
  handover.ticket = ++tickets_;
  handover.message_id = fields.message_id;
  auto segments = std::make_shared<const MessageSegments>(WriteMessageSegments(fields, "\r\n"));
  const std::uint64_t size = segments->size();
  const std::uint64_t limit = connection_.size_limit();
  if (limit != 0 && size > limit) {
    handover.oversize = OversizeReason(size, limit);
    return;
  }
  pipeline_->Begin(handover.ticket, fields.to.address, std::move(segments));
}

// Writes what may go now, then takes the next reply; a connection that fails
// either way, or that the pipeline ended, is closed.
void SmtpTransport::Exchange() {
  std::string error;
  SmtpOutput out = pipeline_->TakeOutput();
  const bool wrote = !out.empty();
  if (wrote && !WriteOutput(connection_, std::move(out), &write_buffer_, &error)) {
    pipeline_->Lose(error);
  } else if (const std::optional<SmtpStep> step = pipeline_->Awaited()) {
    SmtpReply reply;
    if (connection_.ReadReply(SmtpReplyDeadline(*step), &reply, &error)) {
      pipeline_->TakeReply(reply);
    } else {
      pipeline_->Lose(error);
    }
  } else if (!wrote) {
    // Nothing to write and no reply to wait for: the transactions cannot
    // move on, and the connection is given up rather than waited on.
    pipeline_->Lose(kClosingReason);
  }
  Absorb();
  if (pipeline_->closed()) connection_.Close();
}

// Gives the settled transactions' outcomes to their messages.
void SmtpTransport::Absorb() {
  for (SmtpSettlement& settlement : pipeline_->TakeSettled()) {
    for (Handover& handover : handed_) {
      if (handover.ticket == settlement.ticket) handover.settlement = std::move(settlement);
    }
  }
}

SmtpTransport::Handover* SmtpTransport::Find(const OutgoingMessage* message) {
  for (Handover& handover : handed_) {
    if (handover.message == message) return &handover;
  }
  return nullptr;
}

// Drops the message's handover, its outcome taken or to be made again.
void SmtpTransport::Forget(const OutgoingMessage& message) {
  std::erase_if(handed_, [&](const Handover& handover) { return handover.message == &message; });
}

MailResult SmtpTransport::Result(const Handover& handover) const {
  const SmtpSettlement& settlement = *handover.settlement;
  switch (settlement.outcome) {
    case SmtpOutcome::kSent:
      return MailResult::Done(handover.message_id);
    case SmtpOutcome::kRefused:
      return Refusal(settlement.reply, settlement.step);
    case SmtpOutcome::kLost:
      break;
    case SmtpOutcome::kNotTaken:
      if (settlement.reply.code != 0) return Refusal(settlement.reply, settlement.step);
      break;
  }
  return MailResult::ConnectionLost(settlement.reason);
}

MailResult SmtpTransport::Refusal(const SmtpReply& reply, SmtpStep step) const {
  return SmtpRefusal(reply, step, user_name_, password_);
}

// After the run stopped: the replies to the messages that went are read, the
// rest is dropped with the connection, and nothing goes again.
std::vector<std::pair<const OutgoingMessage*, MailResult>> SmtpTransport::Settle() {
  queue_.clear();
  if (pipeline_ && connection_.is_open()) {
    pipeline_->Drain();
    while (connection_.is_open() && pipeline_->AwaitsSentMessage()) Exchange();
    if (pipeline_->open() > 0) {
      pipeline_->Lose(kStoppedReason);
      Absorb();
      connection_.Close();
    }
  }
  std::vector<std::pair<const OutgoingMessage*, MailResult>> outcomes;
  for (const Handover& handover : handed_) {
    if (handover.settlement && handover.settlement->message_went) {
      outcomes.emplace_back(handover.message, Result(handover));
    }
  }
  handed_.clear();
  return outcomes;
}

void SmtpTransport::SignOff() {
  Quit();
  pipeline_.reset();
  handed_.clear();
  signed_on_ = false;
  password_.clear();
}

}  // namespace

std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender,
                                                 std::size_t messages_per_connection,
                                                 const MessageStamps& stamps,
                                                 const TransportTuning& tuning) {
  return std::make_unique<SmtpTransport>(endpoint, sender, messages_per_connection, stamps, tuning);
}

}  // namespace pinemail
