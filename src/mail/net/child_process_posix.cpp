// Children on POSIX: /bin/sh -c COMMAND spawned as the leader of a new
// process group, its output on a non-blocking pipe, polled with the deadline.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mail/net/child_process.h"

extern char** environ;

namespace pinemail {
namespace {

// How often a wait looks whether the child has exited (POSIX has no way to
// poll a process and a pipe together).
constexpr std::chrono::milliseconds kLookEvery{20};

int MillisecondsUntil(ChildProcess::Deadline deadline, std::chrono::milliseconds most) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), most).count());
}

enum class Drained { kOpen, kClosed, kTooLong };

}  // namespace

struct ChildProcess::Handles {
  pid_t pid = -1;   // the child, leader of its process group
  int output = -1;  // the read end of its standard output
  bool reaped = false;
  int status = 0;

  // True once the child itself has exited (and is reaped).
  bool Exited() {
    if (!reaped && waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    return reaped;
  }

  // Takes what the pipe holds now.
  Drained Drain(std::string* output_text, std::size_t limit) {
    char chunk[4096];
    for (;;) {
      const ssize_t got = read(output, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno == EAGAIN ? Drained::kOpen : Drained::kClosed;
      if (got == 0) return Drained::kClosed;
      if (output_text->size() + static_cast<std::size_t>(got) > limit) return Drained::kTooLong;
      output_text->append(chunk, static_cast<std::size_t>(got));
    }
  }

  // Sleeps until the child writes (while its output is open), a little
  // while has passed or the deadline has come.
  void WaitForOutput(Deadline deadline, bool output_open) {
    pollfd wait = {output, POLLIN, 0};
    poll(&wait, output_open ? 1 : 0, MillisecondsUntil(deadline, kLookEvery));
  }
};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() { End(); }

bool ChildProcess::Start(const std::string& command, std::string* reason) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, led by the child
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (spawned != 0) {
    close(ends[0]);
    *reason = std::strerror(spawned);
    return false;
  }
  handles_ = std::make_unique<Handles>();
  handles_->pid = pid;
  handles_->output = ends[0];
  return true;
}

ChildProcess::ReadEnd ChildProcess::Read(std::string* output, std::size_t limit, Deadline deadline,
                                         const std::function<bool(std::string_view)>& enough) {
  for (;;) {
    // Whatever an exited child wrote is in the pipe before it is looked at.
    const bool exited = handles_->Exited();
    const Drained drained = handles_->Drain(output, limit);
    if (drained == Drained::kTooLong) return ReadEnd::kTooLong;
    if (enough(*output)) return ReadEnd::kEnough;
    if (drained == Drained::kClosed || exited) return ReadEnd::kEnded;
    if (std::chrono::steady_clock::now() >= deadline) return ReadEnd::kDeadline;
    handles_->WaitForOutput(deadline, true);
  }
}

bool ChildProcess::Wait(Deadline deadline, Exit* exit) {
  bool output_open = true;
  while (!handles_->Exited()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    handles_->WaitForOutput(deadline, output_open);
    std::string dropped;
    output_open = handles_->Drain(&dropped, 1 << 20) != Drained::kClosed;
  }
  const int status = handles_->status;
  exit->exited = WIFEXITED(status);
  exit->code = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
  return true;
}

void ChildProcess::End() {
  if (!handles_) return;
  // The group outlives its leader while anything it started runs.
  kill(-handles_->pid, SIGKILL);
  if (!handles_->reaped) {
    while (waitpid(handles_->pid, &handles_->status, 0) < 0 && errno == EINTR) {
    }
  }
  close(handles_->output);
  handles_.reset();
}

}  // namespace pinemail
