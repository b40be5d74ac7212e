// The child-process runner's cases on Windows: a program's arguments quoted
// into its command line, input written without blocking.
#include "text/child_process_test.h"

namespace pinemail::testing {

std::vector<ChildCase> PlatformChildCases() {
  const std::string large = std::string(300000, 'x') + "\r\n";
  return {
      {Piped(ChildCommand::Program("cmd.exe", {"/c", "echo", "a b"}),
             ChildOutputStream::kStandardOutput, false),
       "", "\"a b\"\r\n"},
      {Piped(ChildCommand::Shell("cmd /c echo err>&2"), ChildOutputStream::kStandardError, false),
       "", "err\r\n"},
      {Piped(ChildCommand::Program("find.exe", {"x"}), ChildOutputStream::kStandardOutput, true),
       "ax\r\nb\r\nxx\r\n", "ax\r\nxx\r\n"},
      {Piped(ChildCommand::Program("find.exe", {"x"}), ChildOutputStream::kStandardOutput, true),
       large, std::string(kChildOutputKept, 'x'), true}};
}

}  // namespace pinemail::testing
