// The interface the batch run sends mail through, its one result type, and
// the choice of transport from the "Mail Server" setting.
//
// Every step of a transport (SignOn, Send) answers with a MailResult: how it
// went and, when it failed, why. A reason is one text for a person: the
// transport's own words in Japanese, a server's reply as the server sent it,
// a library's error text after the program's words. It never contains the
// password.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "config/settings.h"
#include "merge/message.h"

namespace pinemail {

enum class MailOutcome {
  kDone,            // signed on, or the message went
  kFailed,          // this step failed; after a failed Send the next message may go
  kConnectionLost,  // no reply, or the connection was lost and could not be made again
};

struct MailResult {
  MailOutcome outcome = MailOutcome::kFailed;
  std::string reason;  // why it failed; empty when it did not

  bool ok() const { return outcome == MailOutcome::kDone; }

  static MailResult Done() { return {MailOutcome::kDone, {}}; }
  static MailResult Failed(std::string reason) { return {MailOutcome::kFailed, std::move(reason)}; }
  static MailResult ConnectionLost(std::string reason) {
    return {MailOutcome::kConnectionLost, std::move(reason)};
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

  // Ends the session.
  virtual void SignOff() = 0;
};

// Creates the transport the settings name ("Mail Server"; empty means the
// platform's default). Returns null when the value names nothing this build
// serves; `reason` says why.
std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder, std::string* reason);

}  // namespace pinemail
