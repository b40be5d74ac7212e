// The batch run: settings, run log, list, sign-on, one message per record.
// The data flows one way: list line -> record (ParseRecord) -> message
// (ComposeMessage) -> transport (MailTransport) -> log (RunLog).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/profile.h"
#include "config/settings.h"
#include "mail/transport.h"
#include "text/file_io.h"

namespace pinemail {

// Progress of a run, for a terminal.
struct BatchProgress {
  std::size_t records = 0;   // records handled
  std::size_t sent = 0;
  std::size_t rejected = 0;  // not enough data
  std::size_t failed = 0;    // the transport failed to send
};

enum class BatchOutcome {
  kAllSent,      // reached the end of the list, every record sent
  kSomeNotSent,  // reached the end, some record rejected or failed
  kStoppedEarly  // open failure, empty or unrecognised list, sign-on failure, or
                 // connections kept failing
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
  // Shows the open-failure warning (box or standard error).
  std::function<void(const std::vector<OpenFailure>&)> warn;
  // Called after each record (may be empty).
  std::function<void(const BatchProgress&)> progress;
  // Called with the reason when sign-on failed, for a person watching (may be
  // empty); the log keeps its one fixed line. Never holds the password.
  std::function<void(const std::string&)> sign_on_failed;
};

// Fills the defaults of the members left empty.
BatchEnvironment DefaultBatchEnvironment(std::string app_folder, std::string list_path);

// Runs the batch and reports how it ended.
BatchOutcome RunBatch(const BatchEnvironment& env, BatchProgress* totals = nullptr);

// The local date and time as "yyyy/mm/dd hh:mm:ss".
std::string LocalTimestamp();

}  // namespace pinemail
