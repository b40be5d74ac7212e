// Children on POSIX: posix_spawn (a command line through /bin/sh -c, or a
// program looked up in PATH), the child leading a process group of its own,
// its pipes non-blocking and polled.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "text/child_process.h"
#include "text/file_io.h"

extern char** environ;

namespace pinemail {
namespace {

// How often a wait looks whether the child has exited (POSIX has no way to
// poll a process and a pipe together).
constexpr std::chrono::milliseconds kLookEvery{20};

// A file descriptor, closed when it goes.
class Fd {
 public:
  Fd() = default;
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A pipe whose ends no program started later inherits (the spawn's dup2
// gives the child its own copy); false with errno set.
bool OpenPipe(Fd* read_end, Fd* write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end->Reset(ends[0]);
  write_end->Reset(ends[1]);
  return true;
}

void SetNonBlocking(const Fd& fd) {
  if (fd.is_open()) fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
}

// Ignores SIGPIPE while it lives: a child that exits without reading its
// whole input must not end this process.
class SigpipeIgnored {
 public:
  SigpipeIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~SigpipeIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }
  SigpipeIgnored(const SigpipeIgnored&) = delete;
  SigpipeIgnored& operator=(const SigpipeIgnored&) = delete;

 private:
  struct sigaction previous_ {};
};

// The child's standard streams: a pipe's far end where one is asked for,
// the null device for the rest.
class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  void Stream(int stream, const Fd& pipe_end, bool piped) {
    if (piped) {
      posix_spawn_file_actions_adddup2(&actions_, pipe_end.get(), stream);
    } else {
      posix_spawn_file_actions_addopen(&actions_, stream, "/dev/null",
                                       stream == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// A group of its own led by the child, SIGPIPE at its default, no signal
// blocked: the child behaves as if started from a shell.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setpgroup(&attributes_, 0);
    posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// argv for `command`: sh -c LINE, or the program's file name and its arguments.
std::vector<std::string> ArgumentsOf(const ChildCommand& command) {
  if (command.program.empty()) return {"sh", "-c", command.command_line};
  std::vector<std::string> argv = {command.program.substr(command.program.rfind('/') + 1)};
  argv.insert(argv.end(), command.arguments.begin(), command.arguments.end());
  return argv;
}

int SpawnProcess(const ChildCommand& command, const SpawnActions& actions, pid_t* pid) {
  std::vector<std::string> arguments = ArgumentsOf(command);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const SpawnAttributes attributes;
  if (command.program.empty()) {
    return posix_spawn(pid, "/bin/sh", actions.get(), attributes.get(), argv.data(), environ);
  }
  return posix_spawnp(pid, command.program.c_str(), actions.get(), attributes.get(), argv.data(),
                      environ);
}

}  // namespace

struct ChildProcess::Handles {
  pid_t pid = -1;  // the child, leader of its process group
  Fd input;        // the write end of its standard input
  Fd output;       // the read end of the output that comes back
  bool reaped = false;
  int status = 0;
};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() { End(); }

bool ChildProcess::Spawn(const ChildCommand& command, std::string* reason) {
  auto handles = std::make_unique<Handles>();
  Fd child_input, child_output;
  const bool piped_output = command.output != ChildOutputStream::kNone;
  if ((command.takes_input && !OpenPipe(&child_input, &handles->input)) ||
      (piped_output && !OpenPipe(&handles->output, &child_output))) {
    *reason = ErrnoText(errno);
    return false;
  }
  SpawnActions actions;
  actions.Stream(STDIN_FILENO, child_input, command.takes_input);
  actions.Stream(STDOUT_FILENO, child_output, command.output == ChildOutputStream::kStandardOutput);
  actions.Stream(STDERR_FILENO, child_output, command.output == ChildOutputStream::kStandardError);
  const int failed = SpawnProcess(command, actions, &handles->pid);
  if (failed != 0) {
    *reason = ErrnoText(failed);
    return false;
  }
  // The child holds its own copies of its ends; these would keep the pipes open.
  SetNonBlocking(handles->input);
  SetNonBlocking(handles->output);
  handles_ = std::move(handles);
  return true;
}

ChildProcess::Flow ChildProcess::WriteSome(std::string_view input, std::size_t* written) {
  const SigpipeIgnored guard;
  ssize_t n = 0;
  while ((n = write(handles_->input.get(), input.data(), input.size())) < 0 && errno == EINTR) {
  }
  if (n < 0) return errno == EAGAIN ? Flow::kNothing : Flow::kClosed;
  *written += static_cast<std::size_t>(n);
  return Flow::kMoved;
}

ChildProcess::Flow ChildProcess::ReadSome(std::size_t kept, ChildOutput* output) {
  char chunk[4096];
  Flow flow = Flow::kNothing;
  for (;;) {
    const ssize_t got = read(handles_->output.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return flow;
    if (got <= 0) return Flow::kClosed;
    const std::size_t room = kept - std::min(kept, output->text.size());
    output->text.append(chunk, std::min(room, static_cast<std::size_t>(got)));
    output->cut = output->cut || static_cast<std::size_t>(got) > room;
    flow = Flow::kMoved;
  }
}

bool ChildProcess::Exited() {
  if (!handles_->reaped) {
    pid_t done = 0;
    while ((done = waitpid(handles_->pid, &handles_->status, WNOHANG)) < 0 && errno == EINTR) {
    }
    handles_->reaped = done == handles_->pid;
  }
  return handles_->reaped;
}

ChildProcess::Exit ChildProcess::ExitStatus() const {
  const int status = handles_->status;
  if (WIFEXITED(status)) return {true, WEXITSTATUS(status)};
  return {false, WTERMSIG(status)};
}

void ChildProcess::CloseInput() { handles_->input.Reset(); }

void ChildProcess::Pause(Deadline until) {
  pollfd waits[2];
  nfds_t count = 0;
  if (input_open_) waits[count++] = {handles_->input.get(), POLLOUT, 0};
  if (output_open_) waits[count++] = {handles_->output.get(), POLLIN, 0};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  poll(waits, count,
       static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), kLookEvery).count()));
}

void ChildProcess::EndGroup() {
  // The group outlives its leader while anything it started runs.
  kill(-handles_->pid, SIGKILL);
  if (!handles_->reaped) {
    while (waitpid(handles_->pid, &handles_->status, 0) < 0 && errno == EINTR) {
    }
  }
  handles_.reset();
}

void ChildProcess::LeaveGroup() {
  // Reaped when it has exited already; otherwise it is left to run.
  Exited();
  handles_.reset();
}

}  // namespace pinemail
