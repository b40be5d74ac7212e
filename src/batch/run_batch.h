// The batch run: settings, run log, list, sign-on, one message per record.
// The data flows one way: list line -> record (ParseRecord) -> message
// (ComposeMessage) -> transport (MailTransport) -> log (RunLog).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/local_time.h"
#include "batch/pacing.h"
#include "batch/stop_request.h"
#include "config/profile.h"
#include "config/settings.h"
#include "config/startup.h"
#include "mail/net/dns_txt.h"
#include "mail/transport.h"
#include "mail/transport_config.h"
#include "text/file_io.h"

namespace pinemail {

// Progress of a run, for a terminal.
struct BatchProgress {
  std::size_t records = 0;  // records handled
  std::size_t sent = 0;
  std::size_t sent_before = 0;  // skipped: the run resumed had sent them
  std::size_t rejected = 0;     // not enough data
  std::size_t failed = 0;       // the transport failed to send
  std::string stop_reason;      // why the run stopped early after its log header
  // Records in the list, counted before the first is sent; none when the
  // list could not be read through.
  std::optional<std::size_t> total;
  std::chrono::nanoseconds send_gap{};  // "Send Rate"'s gap between messages; 0: unpaced
  // A check's or a test's own account for a person, one line each (the
  // log's summary line, then what the check found); empty otherwise.
  std::vector<std::string> summary;
  std::string preview_folder;  // the folder a preview writes into; empty otherwise
};

enum class BatchOutcome {
  kAllSent,      // reached the end of the list, every record sent (or sent by
                 // the run resumed)
  kSomeNotSent,  // reached the end, some record rejected or failed
  kStoppedEarly  // open failure, empty or unrecognised list, sign-on failure, or
                 // the run was stopped ("送信を中断しました。"), by a person too
};

// A wait of the run, for a person watching.
struct BatchWait {
  enum class Kind {
    kPacing,      // "Send Rate": the gap before the next message
    kRetry,       // one recipient's temporary refusal: the same message again
    kBackOff,     // the account or the session refused: the same message again
    kStart,       // `/at`: the time to start sending
    kDailyLimit,  // "Daily Limit" reached: until the last 24 hours have room
  };
  Kind kind = Kind::kPacing;
  std::chrono::milliseconds length{};
  std::string reply;  // kRetry, kBackOff: the server's refusal, one clean line
  std::string until;  // kStart, kDailyLimit: when it ends, local "H:MM"
};

// What the run needs from outside, so that tests can stand in for each part.
struct BatchEnvironment {
  std::string app_folder;  // `AppFolder`
  std::string list_path;   // `ListPath`
  // The settings file; default: OpenProfile(app_folder + "pinemail.ini").
  std::function<std::unique_ptr<Profile>()> open_profile;
  // The transport; default: MakeTransport.
  std::function<std::unique_ptr<MailTransport>(const Settings&, std::string* reason)>
      make_transport;
  // Local time as "yyyy/mm/dd hh:mm:ss"; default: the clock.
  std::function<std::string()> now;
  // The wall clock: `/at`, the journal's times and "Daily Limit"'s 24
  // hours; default: the system's.
  std::function<WallClock::time_point()> wall_clock;
  // `/at TIME`: TIME as typed; empty: the run sends at once. The run first
  // signs on and off, then waits for the time (by the wall clock, in steps
  // of `sleep`), and with a "Daily Limit" waits for room instead of stopping.
  std::string start_at;
  // Shows the open-failure warning (box or standard error).
  std::function<void(const std::vector<OpenFailure>&)> warn;
  // Called once the list's records are counted, before the first is sent,
  // and after each record (may be empty).
  std::function<void(const BatchProgress&)> progress;
  // Called with the reason when sign-on failed, for a person watching (may be
  // empty); the log's line names it too, but for Simple MAPI's logon. Never
  // holds a secret.
  std::function<void(const std::string&)> sign_on_failed;
  // What the run does: send, check, preview or test (to `test_address`).
  // Only a run that sends keeps the journal and may resume.
  RunKind kind = RunKind::kSend;
  std::string test_address;
  // The DNS a check's deliverability check asks (null: no such check);
  // default: the system's resolver.
  std::shared_ptr<TxtLookup> dns;
  // Run the list again, skipping the records the journal shows sent by its
  // most recent run (`/resume`).
  bool resume = false;
  // Keep the journal (and make Message-IDs from the run id). Off only to
  // measure what the journal costs; such a run cannot be resumed.
  bool keep_journal = true;
  // The monotonic clock and the sleep of the pacing and the pauses between
  // tries; defaults: the steady clock, a real sleep.
  std::function<PaceClock::time_point()> clock;
  std::function<void(std::chrono::nanoseconds)> sleep;
  // Called before each wait (may be empty).
  std::function<void(const BatchWait&)> waiting;
  // The waits for servers and the CA file of the transports; the pauses
  // before a refused message is tried again are shortened as the waits.
  // Default: the real waits, the system's certificates.
  TransportTuning tuning;
  // Lines for a person watching about the journal and /resume (may be empty).
  std::function<void(const std::string&)> notice;
  // A line for a person watching about a settings file that others may read
  // although it holds a secret (may be empty).
  std::function<void(const std::string&)> caution;
  // A person's stop (may be null): checked after each record and after each
  // wait; the run then stops as for kStopAskedReason, after the message in
  // hand and what was handed over with it. The default sleep ends when it
  // is asked for.
  std::shared_ptr<StopRequest> stop;
};

// Fills the defaults of the members left empty; the journal is kept, and the
// transports wait and trust as `tuning` says (default: the real waits, the
// system's certificates).
BatchEnvironment DefaultBatchEnvironment(std::string app_folder, std::string list_path,
                                         TransportTuning tuning = {});

// Runs the batch and reports how it ended.
BatchOutcome RunBatch(const BatchEnvironment& env, BatchProgress* totals = nullptr);

// The local date and time as "yyyy/mm/dd hh:mm:ss".
std::string LocalTimestamp();

}  // namespace pinemail
