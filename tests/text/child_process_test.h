// The cases of the child-process runner that need a platform's programs
// (child_process_<platform>_test.cpp), run by child_process_test.cpp.
#pragma once

#include <string>
#include <vector>

#include "text/child_process.h"

namespace pinemail::testing {

// A command, its input and what comes back of its output when ChildLimits
// keeps kChildOutputKept bytes; it exits with status 0.
struct ChildCase {
  ChildCommand command;
  std::string input;
  std::string text;
  bool cut = false;
};
inline constexpr std::size_t kChildOutputKept = 40;

// Programs given arguments, fed input far larger than a pipe holds, and
// each of the two outputs taken.
std::vector<ChildCase> PlatformChildCases();

// `command` with the output that comes back and whether it takes input.
ChildCommand Piped(ChildCommand command, ChildOutputStream output, bool takes_input);

}  // namespace pinemail::testing
