// Tests for the exit status both entry points hand back.
#include "batch/exit_status.h"

#include <gtest/gtest.h>

namespace pinemail {
namespace {

TEST(ExitStatus, SchedulersTellSuccessPartialAndStoppedApart) {
  EXPECT_EQ(ExitStatus(BatchOutcome::kAllSent), 0);
  EXPECT_EQ(ExitStatus(BatchOutcome::kSomeNotSent), 1);
  EXPECT_EQ(ExitStatus(BatchOutcome::kStoppedEarly), 2);
  // Help that was asked for is success; help for a list that is not there is not.
  EXPECT_EQ(HelpExitStatus(StartMode::kHelpAsked), 0);
  EXPECT_EQ(HelpExitStatus(StartMode::kListMissing), 2);
}

}  // namespace
}  // namespace pinemail
