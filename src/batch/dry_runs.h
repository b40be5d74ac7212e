// What sets a check, a preview and a test apart from a run that sends: the
// transport each goes through, the records a test takes, the lines each
// logs and the account each gives a person at the end.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/deliverability.h"
#include "batch/run_batch.h"
#include "batch/run_log.h"
#include "config/settings.h"
#include "mail/message/mailbox.h"
#include "mail/message/message_stamps.h"
#include "mail/transport.h"
#include "mail/transport_config.h"
#include "merge/message.h"

namespace pinemail {

// The lines under the time in a check's and a test's log block (the test's
// is followed by the address).
inline constexpr std::string_view kCheckHeaderLine = "送信前の確認です。メールは送信しません。";
inline constexpr std::string_view kTestHeaderLine =
    "テスト送信です。テンプレートごとに 1 通だけ次のアドレスに送ります: ";
// What a test message's subject starts with.
inline constexpr std::string_view kTestSubjectPrefix = "[テスト] ";

// Through the configured transport, a check signs on and off and sends
// nothing: each message is only asked what Send would refuse before it
// left (Check). Its recipient and size are noted for the deliverability
// check.
class CheckingTransport final : public MailTransport {
 public:
  CheckingTransport(std::unique_ptr<MailTransport> inner, Mailbox from, MessageStamps stamps,
                    std::vector<DeliverabilityRecipient>* noted);

  MailResult SignOn(const std::string& user_name, const std::string& password) override {
    return inner_->SignOn(user_name, password);
  }
  MailResult Send(const OutgoingMessage& message) override;
  MailResult Check(const OutgoingMessage& message) override { return inner_->Check(message); }
  void SignOff() override { inner_->SignOff(); }

 private:
  std::unique_ptr<MailTransport> inner_;
  Mailbox from_;
  MessageStamps stamps_;
  std::vector<DeliverabilityRecipient>* noted_;
};

// The folder a preview writes into: preview/ in the home.
std::string PreviewFolder(const std::string& app_folder);

// Empties a preview folder of what a preview writes there (the numbered
// .eml files and the outbox's temporary files); a file of any other name,
// or a folder, is left as it is, and the numbers start again at the first.
// A folder that does not exist yet is fine. False with the system's reason
// when it is not a folder or a file could not be removed.
bool ClearPreviewFolder(const std::string& folder, std::string* reason);

// A preview's From when the mail client (MAPI) would put in the sender and
// the settings name no sender address.
inline constexpr std::string_view kMailClientSender =
    "メールソフトの差出人 <sender@mail-client.invalid>";

// The settings a preview runs with: those of the run, the messages going
// into `folder` as an outbox's would; no password is fetched for it.
Settings PreviewSettings(Settings settings, const std::string& folder);

// A test message: to `address` in place of the record's, its subject marked.
void MakeTestMessage(OutgoingMessage* message, const std::string& address);

// A test takes the first record of each template, by the template's path.
class TemplateChooser {
 public:
  // True the first time `template_path` is seen.
  bool Takes(const std::string& template_path) { return seen_.insert(template_path).second; }

 private:
  std::set<std::string> seen_;
};

// What a check found beyond its records: the deliverability findings as log
// lines ("警告: ", "エラー: ", "助言: " before each text), and whether one is
// an error that would stop the receivers taking the messages.
struct PreflightReport {
  std::vector<std::string> lines;
  bool refused = false;
};

// The deliverability check over the sender and server of `settings` and the
// recipients a check noted; the DNS is asked through `dns`.
PreflightReport Preflight(const Settings& settings,
                          const std::vector<DeliverabilityRecipient>& recipients, TxtLookup& dns);

// The last line of a check's or a test's log block, also shown to a person:
// how many of `records` would go (check) or went (test).
std::string CheckSummaryLine(std::size_t records, std::size_t not_going);
std::string TestSummaryLine(std::size_t sent, std::size_t not_sent, const std::string& address);
// What a preview tells a person: how many messages went into `folder`, and
// how many records it could not make a message for.
std::vector<std::string> PreviewSummaryLines(std::size_t written, std::size_t not_made,
                                             const std::string& folder);

// The transport a run of `env.kind` goes through: the configured one; for
// a check wrapped so that nothing is sent, its messages noted in `checked`;
// for a preview the outbox of the preview folder (named in
// progress->preview_folder), emptied first. Null, with the reason, when it
// cannot be made.
std::unique_ptr<MailTransport> MakeRunTransport(const BatchEnvironment& env,
                                                const Settings& settings,
                                                std::vector<DeliverabilityRecipient>* checked,
                                                BatchProgress* progress, std::string* reason);

// What a check or a test adds at the end of its block (left empty for any
// other run): a check's deliverability findings over the messages it
// `checked`, and the summary line, which also goes to progress->summary for
// a person. A deliverability error means some messages would not be taken:
// the outcome then says so.
BatchOutcome ConcludeDryRun(const BatchEnvironment& env, const Settings& settings,
                            const std::vector<DeliverabilityRecipient>& checked,
                            BatchOutcome outcome, BatchProgress* progress, LogBlock* block);

}  // namespace pinemail
