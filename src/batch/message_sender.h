// Sending one message as the refusal rules say: paced by "Send Rate", tried
// again after a pause when refused for now, failed or stopping the run
// otherwise, and leaving off at a person's stop.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "batch/pacing.h"
#include "batch/refusals.h"
#include "batch/run_batch.h"
#include "config/settings.h"
#include "mail/transport.h"

namespace pinemail {

// A transport's reason made fit for one log line: control characters would
// break the line apart, and no secret of the settings must ever reach the log
// even if a transport echoed it.
std::string CleanReason(std::string_view reason, const Settings& settings);

// How the tries at one message ended.
struct SendEnd {
  enum class Kind {
    kSent,       // the transport took it
    kFailed,     // the record failed; the run goes on
    kStopsRun,   // the record failed, and the run stops after it
    kStopAsked,  // a person stopped the run during a wait, before it went
  };
  Kind kind = Kind::kFailed;
  std::string message_id = {};   // kSent
  std::string reason = {};       // kFailed, kStopsRun: the record's, cleaned
  std::string stop_reason = {};  // kStopsRun: why the run stops, cleaned
};

class MessageSender {
 public:
  MessageSender(const BatchEnvironment& env, const Settings& settings)
      : env_(env), settings_(settings) {}

  // The gap "Send Rate" asks for; none until set.
  void Pace(std::chrono::nanoseconds gap) { pacer_ = Pacer(gap); }
  bool paced() const { return pacer_.paced(); }
  // A person asked the run to stop.
  bool StopAsked() const { return env_.stop && env_.stop->requested(); }

  // Tries `message` until it goes, fails or stops the run, pacing every try;
  // `ahead`: the messages read after it, which the transport may hand over
  // early.
  SendEnd Send(const OutgoingMessage& message, const std::vector<const OutgoingMessage*>& ahead,
               MailTransport& transport);

 private:
  bool WaitForTurn();
  void Pause(const SendStep& step, const MailResult& result);
  void Sleep(std::chrono::nanoseconds length) const;
  PaceClock::time_point Now() const { return env_.clock ? env_.clock() : PaceClock::now(); }

  const BatchEnvironment& env_;
  const Settings& settings_;
  Pacer pacer_;
  RefusalPolicy refusals_;
};

}  // namespace pinemail
