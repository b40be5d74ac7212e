// The records the run has read from the list and not yet finished: the one
// in hand first, then a few read ahead so that the transport may hand their
// messages to the server early. Each is parsed, its message composed and its
// fate decided when it is read; it is sent, judged and logged in turn.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "batch/dry_runs.h"
#include "batch/record_identity.h"
#include "batch/run_journal.h"
#include "batch/run_log.h"
#include "config/settings.h"
#include "merge/attached_file_cache.h"
#include "merge/keywords.h"
#include "merge/message.h"
#include "merge/rich_message.h"
#include "text/line_reader.h"

namespace pinemail {

// A record read from the list and waiting for its turn.
struct PendingRecord {
  struct SentBefore {};  // the run resumed sent it: not sent again
  struct Rejected {};    // not enough data for a message, or a file it cannot carry
  LogBlock block;
  RecordIdentity identity;
  std::variant<OutgoingMessage, SentBefore, Rejected> fate = Rejected{};

  // The message to send, or null.
  const OutgoingMessage* message() const { return std::get_if<OutgoingMessage>(&fate); }
  bool sent_before() const { return std::holds_alternative<SentBefore>(fate); }
  bool rejected() const { return std::holds_alternative<Rejected>(fate); }
  bool failed = false;  // its message was tried and did not go
};

class ReadAhead {
 public:
  // Reads the records of `list` (past its first line); the templates are
  // found beside `app_folder`, the identities and message keys come from
  // `journal`. With a `test_address`, only the first record of each
  // template is read, its message going to that address.
  ReadAhead(LineReader& list, const Settings& settings, std::string app_folder, RunJournal& journal,
            const std::string* test_address = nullptr);

  // Reads records until kLookahead messages wait, or kMaxPending records,
  // or the list ends.
  void Fill();

  // Why the run cannot start with these settings (an "Attach Key Word" name
  // that is not a keyword); empty when it can.
  std::string SetupProblem() const { return attach_problem_; }

  bool empty() const { return pending_.empty(); }
  PendingRecord& front() { return pending_.front(); }
  void pop_front() { pending_.pop_front(); }
  std::deque<PendingRecord>& records() { return pending_; }
  // The messages of the records behind the one in hand.
  std::vector<const OutgoingMessage*> MessagesBehind() const;

 private:
  void Prepare(std::string_view line, std::string_view raw_line);
  RecipientRecord TestRecord(RecipientRecord record) const;
  // Adds the HTML part, its images and the record's files to `message`;
  // false, with the reason, when the record cannot go with them.
  bool AddRich(OutgoingMessage* message, const RecipientRecord& record,
               const std::string& template_path, std::string* reason);

  LineReader& list_;
  std::string app_folder_;
  RunJournal& journal_;
  std::string banner_;
  KeywordTable table_;
  RichSetup rich_;
  std::string attach_problem_;
  AttachedFileCache files_;  // each file read and encoded once per run
  std::deque<PendingRecord> pending_;
  const std::string* test_address_;
  TemplateChooser templates_;  // a test's: the templates taken
};

}  // namespace pinemail
