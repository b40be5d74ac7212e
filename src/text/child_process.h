// Programs run as children: sendmail, "Password Command" and the browser
// opener. One child in a group of its own, so that ending it ends whatever
// it started; every wait has a deadline and an idle limit. The exchange is
// written once (child_process.cpp), the system calls per platform
// (child_process_<platform>.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pinemail {

// Which of a child's outputs comes back to this process; the other (both,
// for kNone) goes to the null device, so that nothing it prints reaches the
// terminal.
enum class ChildOutputStream { kNone, kStandardOutput, kStandardError };

// What a child runs and which of its standard streams are pipes.
struct ChildCommand {
  // A command line: POSIX runs it through /bin/sh -c, Windows as it is,
  // without a shell.
  static ChildCommand Shell(std::string command_line);
  // A program (a path, or a name looked up in PATH) and its arguments,
  // without a shell; the program's file name is its argv[0].
  static ChildCommand Program(std::string program, std::vector<std::string> arguments);

  std::string command_line;  // Shell
  std::string program;       // Program
  std::vector<std::string> arguments;
  ChildOutputStream output = ChildOutputStream::kStandardOutput;
  // Its standard input on a pipe that Exchange writes; else the null device.
  bool takes_input = false;
};

// A child's input given piece by piece: each call gives the next bytes,
// valid until the next call; an empty piece ends the input.
using ChildInput = std::function<std::string_view()>;

// What a child wrote on the output that comes back.
struct ChildOutput {
  std::string text;  // the first ChildLimits::kept bytes
  bool cut = false;  // more came, and was read and dropped
};

// How long an exchange may last and how much of the output is kept.
struct ChildLimits {
  using Deadline = std::chrono::steady_clock::time_point;
  Deadline deadline = Deadline::max();
  // The child is given up when no byte has moved either way for this long.
  std::chrono::milliseconds idle = std::chrono::milliseconds::max();
  std::size_t kept = std::numeric_limits<std::size_t>::max();
  // After the child's exit its output is still read for this long while it
  // stays open: what a process it left behind writes meanwhile.
  std::chrono::milliseconds linger{0};
  // True when the output so far is all that is wanted (may be empty).
  std::function<bool(const ChildOutput&)> enough;
};

enum class ChildEnd {
  kEnough,    // `enough` was true of the output
  kEnded,     // the child exited (and `linger` passed), or closed every pipe
  kDeadline,  // the deadline came first
  kIdle,      // nothing moved for the idle limit
};

struct ChildExchange {
  ChildEnd end = ChildEnd::kEnded;
  bool input_complete = false;  // the child took the whole input
};

// One program run as a child of this process, in a group of its own (POSIX:
// a process group; Windows: a job object). Destroying it ends the group,
// unless Leave let it run on.
class ChildProcess {
 public:
  using Deadline = ChildLimits::Deadline;

  ChildProcess();
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `command`, SIGPIPE at its default and no signal blocked (POSIX),
  // without a window (Windows). False with the system's reason.
  bool Start(const ChildCommand& command, std::string* reason);

  // Writes `input` to the child (when it takes input) while taking what it
  // writes into `output`, each as far as the child keeps up, so that neither
  // side waits for the other however much there is. Ends as ChildEnd says;
  // a child that exited leaves its input unwritten, but what it wrote before
  // is taken whole.
  ChildExchange Exchange(std::string_view input, const ChildLimits& limits, ChildOutput* output);
  // The same with the input read from `input` as the child takes it, so that
  // a long input is never held whole.
  ChildExchange ExchangeFrom(const ChildInput& input, const ChildLimits& limits,
                             ChildOutput* output);

  // How the child itself ended.
  struct Exit {
    bool exited = false;  // false: a signal ended it (POSIX)
    long code = 0;        // its exit status, or the signal's number
  };
  // Waits until the child itself has exited (not what it left running),
  // taking and dropping what it writes meanwhile so that a full pipe cannot
  // hold it up. False when the deadline came first.
  bool Wait(Deadline deadline, Exit* exit);

  // Ends the child's whole group at once.
  void End();
  // Lets the child and what it started run on (a browser, a queue runner);
  // this process no longer answers for them.
  void Leave();

 private:
  // What one look at a pipe found.
  enum class Flow { kMoved, kNothing, kClosed };
  struct Handles;  // the platform's

  // The platform's part (child_process_<platform>.cpp).
  bool Spawn(const ChildCommand& command, std::string* reason);
  Flow WriteSome(std::string_view input, std::size_t* written);
  Flow ReadSome(std::size_t kept, ChildOutput* output);
  bool Exited();  // true once the child itself has exited
  Exit ExitStatus() const;
  void CloseInput();
  // Sleeps until a pipe that is open may move, a little while has passed
  // (the child's exit is looked at that often) or `until` has come.
  void Pause(Deadline until);
  // Both let go of the handles.
  void EndGroup();
  void LeaveGroup();

  // The input of an exchange: the piece being written, and whether all was.
  struct Feeding {
    const ChildInput* input = nullptr;
    std::string_view piece;
    bool complete = false;
  };

  // The steps of an exchange.
  void StopFeeding();
  bool Feed(Feeding* feeding);
  bool Take(std::size_t kept, ChildOutput* output);

  std::unique_ptr<Handles> handles_;
  bool input_open_ = false;
  bool output_open_ = false;
};

}  // namespace pinemail
