// What the batch run does when the transport did not send a message: try it
// again after a pause, fail the record, or stop the run. The same rules hold
// for every transport; only SMTP gives the reply codes that some of them
// need.
//
// - A refusal of one recipient or message fails that record. A temporary one
//   (4xx, e.g. "451 mailbox busy") is tried again twice first, after 1 s and
//   2 s.
// - A refusal of the account or the session (the transport says so: the
//   sender refused, a 421; or its enhanced status code X.1.7 or X.1.8 says
//   the sender's address is refused, at whichever command), or the same
//   refusal code for kSameRefusalsToStop records in a row (unless its
//   enhanced status code is X.1.1 to X.1.6 or X.1.10, which are about one
//   recipient's address), concerns every message: a temporary one
//   is tried again with growing pauses (1 s, 2 s, 4 s, ...) of at most
//   kBackOffLimit in all for one record; a lasting one (5xx), or the pauses
//   used up, stop the run.
// - kLostConnectionsToStop records in a row lost to a connection failure
//   stop the run: a server that stalls would otherwise cost its full wait on
//   every record.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "mail/transport.h"

namespace pinemail {

inline constexpr std::size_t kSameRefusalsToStop = 5;
inline constexpr std::size_t kLostConnectionsToStop = 3;
inline constexpr std::chrono::seconds kBackOffLimit = std::chrono::minutes(5);

struct SendStep {
  enum class Action {
    kSent,     // the message went
    kRetry,    // one recipient or message was refused for now: pause, try it again
    kBackOff,  // the account or session was refused for now: pause, try it again
    kFail,     // the record failed; the run goes on
    kStop,     // the record failed, and the run stops after it
  };
  Action action = Action::kFail;
  // kRetry, kBackOff: before the next try (not shortened for tests).
  std::chrono::milliseconds pause{};
  std::string reason;       // kFail, kStop: the record's reason (the transport's words)
  std::string stop_reason;  // kStop: why the run stops
};

// Judges the tries of one run, record after record.
class RefusalPolicy {
 public:
  // Before the first try at a record.
  void StartRecord();
  // After each try at the record in hand.
  SendStep Judge(const MailResult& result);

 private:
  SendStep BackOff(const MailResult& result, bool session);
  SendStep Fail(std::string reason);
  bool RepeatsTheStreak(const MailResult& result) const;

  // The record in hand.
  std::size_t short_tries_ = 0;
  std::chrono::milliseconds backed_off_{};
  std::chrono::milliseconds next_back_off_{};
  std::string last_refusal_;  // the server's last words for it, kept over a lost connection
  // Across records.
  std::size_t lost_in_row_ = 0;
  int streak_reply_ = 0;  // the refusal code the last records ended with; 0: none
  std::string streak_status_;
  std::size_t streak_length_ = 0;
};

}  // namespace pinemail
