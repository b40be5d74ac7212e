// The child-process runner on POSIX: the shell's and PATH's programs, and
// each way an exchange ends.
#include <gtest/gtest.h>

#include "text/child_process_test.h"

namespace pinemail {
namespace testing {

std::vector<ChildCase> PlatformChildCases() {
  const std::string large(1 << 20, 'x');
  return {{Piped(ChildCommand::Program("printf", {"%s|", "a b", "-c"}),
                 ChildOutputStream::kStandardOutput, false),
           "", "a b|-c|"},
          {Piped(ChildCommand::Shell("echo out; echo err >&2"), ChildOutputStream::kStandardError,
                 false),
           "", "err\n"},
          {Piped(ChildCommand::Program("cat", {}), ChildOutputStream::kStandardOutput, true), large,
           std::string(kChildOutputKept, 'x'), true}};
}

}  // namespace testing

namespace {

using std::chrono::milliseconds;

TEST(ChildProcessTest, EndsAsSoonAsEnoughIsThereOrALimitIsReached) {
  for (const ChildEnd end : {ChildEnd::kEnough, ChildEnd::kIdle, ChildEnd::kDeadline}) {
    ChildProcess child;
    std::string reason;
    ASSERT_TRUE(child.Start(ChildCommand::Shell("echo first; exec sleep 600"), &reason)) << reason;
    ChildLimits limits;
    if (end == ChildEnd::kEnough) {
      limits.enough = [](const ChildOutput& output) { return output.text.ends_with('\n'); };
    } else if (end == ChildEnd::kIdle) {
      limits.idle = milliseconds(500);
    } else {
      limits.deadline = std::chrono::steady_clock::now() + milliseconds(1000);
    }
    ChildOutput output;
    EXPECT_EQ(child.Exchange({}, limits, &output).end, end);
    EXPECT_EQ(output.text, "first\n");
    ChildProcess::Exit exit;
    EXPECT_FALSE(child.Wait(std::chrono::steady_clock::now(), &exit));
  }
}

}  // namespace
}  // namespace pinemail
