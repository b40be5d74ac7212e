// Programs run as children with a deadline (child_process_<platform>.cpp):
// one child in a group of its own, so that ending it ends whatever it started.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pinemail {

// One program run as a child of this process, in a group of its own (POSIX:
// a process group; Windows: a job object), so that ending it also ends what
// it left running in the background. Its standard output comes back on a
// pipe that only this process reads; its standard input and errors are the
// null device, so nothing it prints reaches the terminal. Every wait on it
// has a deadline. Destroying it ends the group.
class ChildProcess {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  ChildProcess();
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `command`: POSIX through /bin/sh -c, Windows as a command line
  // without a shell and without a window. False with the system's reason.
  bool Start(const std::string& command, std::string* reason);

  enum class ReadEnd {
    kEnough,    // `enough` was true of the output
    kEnded,     // the output closed, or the child exited and what it wrote is taken
    kTooLong,   // the output would pass `limit` bytes
    kDeadline,  // the deadline came first
  };
  // Appends what the child writes to `output` until one of ReadEnd.
  ReadEnd Read(std::string* output, std::size_t limit, Deadline deadline,
               const std::function<bool(std::string_view)>& enough);

  // How the child itself ended.
  struct Exit {
    bool exited = false;  // false: a signal ended it (POSIX)
    long code = 0;        // its exit status
  };
  // Waits until the child itself has exited (not what it left running),
  // taking and dropping what it writes meanwhile so that a full pipe cannot
  // hold it up. False when the deadline came first.
  bool Wait(Deadline deadline, Exit* exit);

  // Ends the child's whole group at once.
  void End();

 private:
  struct Handles;  // the platform's
  std::unique_ptr<Handles> handles_;
};

}  // namespace pinemail
