// The exit status a scheduler sees.
#include "batch/exit_status.h"

namespace pinemail {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitSomeNotSent = 1;
constexpr int kExitStopped = 2;

}  // namespace

int ExitStatus(BatchOutcome outcome) {
  switch (outcome) {
    case BatchOutcome::kAllSent:
      return kExitDone;
    case BatchOutcome::kSomeNotSent:
      return kExitSomeNotSent;
    case BatchOutcome::kStoppedEarly:
      break;
  }
  return kExitStopped;
}

int HelpExitStatus(StartMode mode) {
  return mode == StartMode::kHelpAsked ? kExitDone : kExitStopped;
}

}  // namespace pinemail
