// Reading the list ahead of the record in hand: parse, compose, decide.
#include "batch/read_ahead.h"

#include <optional>
#include <utility>

#include "config/startup.h"
#include "merge/banner.h"
#include "merge/compose.h"
#include "merge/record.h"
#include "merge/template_reader.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// How many messages the run reads ahead of the one in hand (the transport
// may hand them over early), and how many records at most, whatever they
// hold.
constexpr std::size_t kLookahead = 8;
constexpr std::size_t kMaxPending = 64;

}  // namespace

ReadAhead::ReadAhead(LineReader& list, const Settings& settings, std::string app_folder,
                     RunJournal& journal, const std::string* test_address)
    : list_(list),
      app_folder_(std::move(app_folder)),
      journal_(journal),
      test_address_(test_address) {
  if (!settings.SuppressBanner) banner_ = MailBanner();
  BuildKeywordTable(TrimBlanks(settings.keyword_list), table_);
  const AttachKeywords attach = FindAttachKeywords(settings.attach_keyword_list, table_);
  attach_problem_ = attach.Problem();
  rich_.app_folder = app_folder_;
  rich_.attach_positions = attach.positions;
  rich_.banner = banner_;
}

void ReadAhead::Fill() {
  std::size_t messages = 0;
  for (const PendingRecord& record : pending_) messages += record.message() ? 1 : 0;
  std::string line;
  while (messages < kLookahead && pending_.size() < kMaxPending && list_.Next(&line)) {
    std::string_view record_line = RecordLine(line);
    if (record_line.empty()) continue;
    Prepare(record_line, list_.raw());
    messages += pending_.back().message() ? 1 : 0;
  }
}

std::vector<const OutgoingMessage*> ReadAhead::MessagesBehind() const {
  std::vector<const OutgoingMessage*> behind;
  for (std::size_t i = 1; i < pending_.size(); ++i) {
    if (const OutgoingMessage* message = pending_[i].message()) behind.push_back(message);
  }
  return behind;
}

// The record as a test's log shows it: going to the test's address.
RecipientRecord ReadAhead::TestRecord(RecipientRecord record) const {
  record.address = *test_address_;
  return record;
}

// Reads one record and composes its message; what it needs is decided
// later, in turn.
void ReadAhead::Prepare(std::string_view line, std::string_view raw_line) {
  const RecipientRecord record = ParseRecord(line, table_);
  const std::string template_path = ResolveTemplatePath(record.template_name, app_folder_);
  if (test_address_ && !templates_.Takes(template_path)) return;
  PendingRecord& pending = pending_.emplace_back();
  pending.block.Record(test_address_ ? TestRecord(record) : record);
  // Read in every case, even when the name or address is already empty.
  MessageTemplate message_template;
  const bool have_template =
      ReadTemplate(template_path, message_template.subject, message_template.body);
  pending.identity = journal_.Identify(line, raw_line);
  if (journal_.SentBefore(pending.identity)) {
    pending.block.SentBefore(have_template ? &message_template.subject : nullptr);
    pending.fate = PendingRecord::SentBefore{};
    return;
  }
  std::optional<OutgoingMessage> message =
      ComposeMessage(record, have_template ? &message_template : nullptr, table_, banner_);
  std::string reason;
  if (message && AddRich(&*message, record, template_path, &reason)) {
    message->message_key = journal_.MessageKeyOf(pending.identity);
    if (test_address_) MakeTestMessage(&*message, *test_address_);
    pending.fate = std::move(*message);
  } else {
    pending.block.Rejected(reason);
    pending.fate = PendingRecord::Rejected{};
  }
}

bool ReadAhead::AddRich(OutgoingMessage* message, const RecipientRecord& record,
                        const std::string& template_path, std::string* reason) {
  return AddRichParts(message, record, template_path, table_, rich_, files_, reason);
}

}  // namespace pinemail
