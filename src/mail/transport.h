// The interface the batch run sends mail through and its one result type.
//
// Every step of a transport (SignOn, Send) answers with a MailResult: how it
// went and, when it failed, why. A reason is one text for a person: the
// transport's own words in Japanese, a server's reply as the server sent it,
// a library's error text after the program's words. It never contains the
// password. A transport does not try a refused message again: the batch run
// decides that, the same way for every transport, from the outcome and the
// server's codes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mail/message/mailbox.h"
#include "merge/message.h"

namespace pinemail {

enum class MailOutcome {
  kDone,            // signed on, or the message went
  kFailed,          // this step failed: the message (its recipient, its content) was refused or
                    // could not go; after a failed Send the next message may go
  kSessionRefused,  // the server refused the sender, the account or the session (the
                    // sender refused at MAIL FROM, a 421 at any point): while that lasts
                    // no message can go
  kConnectionLost,  // no reply, or the connection was lost and could not be made again
};

struct MailResult {
  MailOutcome outcome = MailOutcome::kFailed;
  std::string reason;  // why it failed; empty when it did not
  // A server's refusal: its reply code (4xx: it may pass, 5xx: it lasts) and
  // its enhanced status code (RFC 3463, e.g. "4.7.0"). 0 and empty when the
  // failure came without one (every transport but SMTP).
  int reply_code = 0;
  std::string status_code;
  // After a Send that went: the Message-ID the message carried, without the
  // angle brackets; empty when the transport does not write the message
  // itself (MAPI).
  std::string message_id;
  // After a failed SignOn: whether the log's failure line names the reason,
  // as it does for a failed send. Simple MAPI's logon keeps the log's fixed
  // line (the reason is shown to a person watching only).
  bool reason_logged = true;

  bool ok() const { return outcome == MailOutcome::kDone; }

  static MailResult Done(std::string message_id = {}) {
    MailResult result = Of(MailOutcome::kDone, {});
    result.message_id = std::move(message_id);
    return result;
  }
  static MailResult Failed(std::string reason) {
    return Of(MailOutcome::kFailed, std::move(reason));
  }
  static MailResult ConnectionLost(std::string reason) {
    return Of(MailOutcome::kConnectionLost, std::move(reason));
  }
  // A refusal by a server with its codes; `outcome` is kFailed or kSessionRefused.
  static MailResult Refused(MailOutcome outcome, std::string reason, int reply_code,
                            std::string status_code) {
    MailResult result = Of(outcome, std::move(reason));
    result.reply_code = reply_code;
    result.status_code = std::move(status_code);
    return result;
  }
  static MailResult Of(MailOutcome outcome, std::string reason) {
    MailResult result;
    result.outcome = outcome;
    result.reason = std::move(reason);
    return result;
  }
};

// The reason a transport gives for a Send before a successful SignOn.
inline constexpr std::string_view kNotSignedOnReason = "ログインしていません";

class MailTransport {
 public:
  virtual ~MailTransport() = default;

  // Takes the credentials and signs on.
  virtual MailResult SignOn(const std::string& user_name, const std::string& password) = 0;

  // Sends one message.
  virtual MailResult Send(const OutgoingMessage& message) = 0;

  // Sends one message as Send does, while `ahead`, the messages the run will
  // send next in the order it will send them, may already be handed to the
  // server before this one's outcome is known, so that they share its round
  // trips. A message handed over that way must stay where it is, unchanged,
  // until the run sends it (it is recognised by its address) or settles.
  // Returns the outcome of `message` alone: each message's outcome comes
  // from its own call, in the run's order. The default ignores `ahead`.
  virtual MailResult SendAhead(const OutgoingMessage& message,
                               std::span<const OutgoingMessage* const> ahead) {
    (void)ahead;
    return Send(message);
  }

  // After the run stopped with messages handed over ahead: the outcomes of
  // those the server received whole, in the order they were handed over.
  // Those whose message had not gone yet are dropped with the connection;
  // nothing is sent again and no connection is made.
  virtual std::vector<std::pair<const OutgoingMessage*, MailResult>> Settle() { return {}; }

  // What Send would refuse before anything leaves, found without sending:
  // the transports that write the message themselves (SMTP, sendmail, the
  // outbox) cannot address a recipient that is not a plain addr-spec. A
  // transport that hands the address on to be resolved (MAPI) refuses
  // nothing here.
  virtual MailResult Check(const OutgoingMessage& message) {
    if (IsPlainAddress(message.recipient_address)) return MailResult::Done();
    return MailResult::Failed(std::string(kBadAddressReason));
  }

  // Ends the session.
  virtual void SignOff() = 0;
};

}  // namespace pinemail
