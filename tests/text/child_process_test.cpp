// The child-process runner: arguments, input and either output, what is
// kept of the output, on the platform's own programs.
#include "text/child_process_test.h"

#include <gtest/gtest.h>

namespace pinemail {
namespace testing {

ChildCommand Piped(ChildCommand command, ChildOutputStream output, bool takes_input) {
  command.output = output;
  command.takes_input = takes_input;
  return command;
}

}  // namespace testing

namespace {

TEST(ChildProcessTest, FeedsTheInputAndTakesTheOutputAskedFor) {
  for (const testing::ChildCase& c : testing::PlatformChildCases()) {
    ChildProcess child;
    std::string reason;
    ASSERT_TRUE(child.Start(c.command, &reason)) << reason;
    ChildLimits limits;
    limits.kept = testing::kChildOutputKept;
    ChildOutput output;
    const ChildExchange exchange = child.Exchange(c.input, limits, &output);
    EXPECT_EQ(exchange.end, ChildEnd::kEnded) << c.text;
    EXPECT_TRUE(exchange.input_complete) << c.text;
    EXPECT_EQ(output.text, c.text);
    EXPECT_EQ(output.cut, c.cut) << c.text;
    ChildProcess::Exit exit;
    EXPECT_TRUE(child.Wait(ChildProcess::Deadline::max(), &exit));
    EXPECT_TRUE(exit.exited && exit.code == 0) << c.text;
  }
}

}  // namespace
}  // namespace pinemail
