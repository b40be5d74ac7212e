// Hands each message to the system's sendmail program: started with
// posix_spawn (no shell), the message written to its standard input, its exit
// status and first error line turned into the send result.
#include "mail/local/sendmail_transport_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "mail/message/message_writer.h"
#include "mail/signon/credential_mask.h"
#include "text/file_io.h"
#include "text/utf8.h"

extern char** environ;

namespace pinemail {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A program that neither reads nor writes for this long is stopped, so that
// an unattended run cannot hang on it for ever.
constexpr Milliseconds kIdleLimit = std::chrono::minutes(5);
// How often the exchange looks whether the program has exited: a process it
// started and left behind may hold its standard error open long after.
constexpr Milliseconds kExitCheck(50);
// After the exit, what is left of its complaints is read for this long at
// most, never until the pipe closes.
constexpr Milliseconds kReadAfterExit(200);
// Only the first line of the program's complaints is logged; the rest is
// read and dropped so that the program never blocks on a full pipe.
constexpr std::size_t kErrorOutputKept = 4096;
constexpr std::size_t kReasonLineCodePoints = 200;

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FirstLine(std::string_view text) {
  std::string line;
  for (;;) {
    const std::size_t end = text.find('\n');
    std::string_view candidate = text.substr(0, end);
    while (!candidate.empty() && (candidate.back() == '\r' || candidate.back() == ' ')) {
      candidate.remove_suffix(1);
    }
    while (!candidate.empty() && candidate.front() == ' ') candidate.remove_prefix(1);
    if (!candidate.empty() || end == std::string_view::npos) {
      line = std::string(candidate);
      break;
    }
    text.remove_prefix(end + 1);
  }
  // Bytes that are not UTF-8 become "?"; controls become blanks.
  line = PrintableText(line);
  return std::string(CutCodePoints(line, kReasonLineCodePoints));
}

// A file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Opens a pipe whose ends are not inherited by programs started later; false
// with errno set when it could not be made.
bool OpenPipe(UniqueFd* read_end, UniqueFd* write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end->Reset(ends[0]);
  write_end->Reset(ends[1]);
  return true;
}

// Ignores SIGPIPE while it lives: a program that exits without reading the
// whole message must not end this process.
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

// What became of one run of the program.
struct ProgramRun {
  bool started = false;
  std::string start_error;
  bool input_complete = false;  // the program took the whole message
  bool stopped_idle = false;
  bool exited = false;  // reaped during the exchange; wait_status is set
  int wait_status = 0;
  std::string error_output;
};

// Starts `program` with `arguments`, its standard input and standard error on
// pipes (standard output to /dev/null), SIGPIPE back at its default and no
// signal blocked.
bool Spawn(const std::string& program, const std::vector<std::string>& arguments, int input_fd,
           int error_fd, pid_t* pid, std::string* error) {
  // The program's own name as argv[0]: sendmail, msmtp and the like decide
  // how to behave by it.
  std::string name = program.substr(program.rfind('/') + 1);
  std::vector<char*> argv;
  argv.push_back(name.data());
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t no_mask;
  sigemptyset(&no_mask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &no_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  const int status = posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) {
    *error = program + " を起動できませんでした (" + ErrnoText(status) + ")";
    return false;
  }
  return true;
}

// True once `pid` has exited, with its status; never waits.
bool Reaped(pid_t pid, int* wait_status) {
  pid_t done = 0;
  while ((done = waitpid(pid, wait_status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return done == pid;
}

int PollTimeout(Milliseconds left) {
  return static_cast<int>(std::clamp<Milliseconds::rep>(left.count(), 0, kExitCheck.count()));
}

// Writes `input` and reads standard error at the same time, so that neither
// side can wait for the other however large the message or the complaint.
// Ends when both pipes are closed, or once the program has exited and what
// was left on standard error has been read for a moment: a process it left
// behind holding the pipe must not hold up the run.
void Exchange(std::string_view input, UniqueFd& input_fd, UniqueFd& error_fd, ProgramRun* run,
              pid_t pid) {
  fcntl(input_fd.get(), F_SETFL, fcntl(input_fd.get(), F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  if (input.empty()) input_fd.Close();
  Clock::time_point last_activity = Clock::now();
  Clock::time_point read_until{};
  while (input_fd.is_open() || error_fd.is_open()) {
    if (!run->exited && Reaped(pid, &run->wait_status)) {
      run->exited = true;
      input_fd.Close();  // nothing will read it any more
      read_until = Clock::now() + kReadAfterExit;
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point deadline = run->exited ? read_until : last_activity + kIdleLimit;
    if (now >= deadline) {
      if (!run->exited) {
        kill(pid, SIGKILL);
        run->stopped_idle = true;
      }
      break;
    }
    pollfd fds[2] = {{input_fd.get(), POLLOUT, 0}, {error_fd.get(), POLLIN, 0}};
    const int ready =
        poll(fds, 2, PollTimeout(std::chrono::duration_cast<Milliseconds>(deadline - now)));
    if (ready < 0 && errno != EINTR) {
      kill(pid, SIGKILL);
      run->stopped_idle = true;
      break;
    }
    if (ready <= 0) continue;
    last_activity = Clock::now();
    if (input_fd.is_open() && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = write(input_fd.get(), input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      const bool failed = n < 0 && errno != EAGAIN && errno != EINTR;
      if (failed || written == input.size()) input_fd.Close();
    }
    if (error_fd.is_open() && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      char buffer[4096];
      const ssize_t n = read(error_fd.get(), buffer, sizeof buffer);
      if (n > 0) {
        const std::size_t room = kErrorOutputKept - run->error_output.size();
        run->error_output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        error_fd.Close();
      }
    }
  }
  run->input_complete = written == input.size();
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::string_view input) {
  ProgramRun run;
  UniqueFd input_read, input_write, error_read, error_write;
  if (!OpenPipe(&input_read, &input_write) || !OpenPipe(&error_read, &error_write)) {
    run.start_error = "パイプを作れませんでした (" + ErrnoText(errno) + ")";
    return run;
  }
  pid_t pid = 0;
  run.started =
      Spawn(program, arguments, input_read.get(), error_write.get(), &pid, &run.start_error);
  // The program holds its own copies; these ends would only keep the pipes open.
  input_read.Close();
  error_write.Close();
  if (run.started) {
    SigpipeIgnored guard;
    Exchange(input, input_write, error_read, &run, pid);
  }
  input_write.Close();
  error_read.Close();
  if (run.started && !run.exited) {
    while (waitpid(pid, &run.wait_status, 0) < 0 && errno == EINTR) {
    }
  }
  return run;
}

class SendmailTransport final : public MailTransport {
 public:
  SendmailTransport(std::string program, Mailbox sender)
      : program_(std::move(program)), sender_(std::move(sender)) {}

  MailResult SignOn(const std::string&, const std::string&) override;
  MailResult Send(const OutgoingMessage& message) override;
  void SignOff() override {}

 private:
  std::string program_;  // as configured; empty means the system's default
  std::string chosen_;   // the program signed on with
  // Never passed on; masked should the program print it.
  std::string password_;
  Mailbox sender_;
};

// The credentials are for SMTP servers; sendmail never sees them.
MailResult SendmailTransport::SignOn(const std::string&, const std::string& password) {
  chosen_.clear();
  password_ = password;
  if (!program_.empty()) {
    if (program_.front() == '/' && IsExecutableFile(program_)) chosen_ = program_;
  } else {
    for (std::string_view path : kSendmailPaths) {
      if (IsExecutableFile(std::string(path))) {
        chosen_ = std::string(path);
        break;
      }
    }
  }
  if (chosen_.empty()) {
    return MailResult::Failed(
        "sendmail が見つからないか実行できません: " +
        (program_.empty() ? std::string("/usr/sbin/sendmail, /usr/lib/sendmail") : program_));
  }
  if (!IsPlainAddress(sender_.address)) {
    return MailResult::Failed("差出人のアドレスがありません (From)");
  }
  return MailResult::Done();
}

MailResult SendmailTransport::Send(const OutgoingMessage& message) {
  if (chosen_.empty()) return MailResult::Failed(std::string(kNotSignedOnReason));
  if (!IsPlainAddress(message.recipient_address)) {
    return MailResult::Failed(std::string(kBadAddressReason));
  }
  const MessageFields fields = FieldsFor(message, sender_);

  const ProgramRun run = RunProgram(chosen_, SendmailArguments(sender_.address, fields.to.address),
                                    WriteMessage(fields, "\n"));
  if (!run.started) return MailResult::Failed(run.start_error);
  if (run.stopped_idle) return MailResult::Failed(chosen_ + ": 応答がないため停止しました");
  if (!WIFEXITED(run.wait_status) || WEXITSTATUS(run.wait_status) != 0) {
    return MailResult::Failed(SendmailFailureReason(run.wait_status, run.error_output, password_));
  }
  // Status 0 after leaving part of the message unread would be a truncated
  // message reported as sent.
  if (!run.input_complete) {
    return MailResult::Failed(chosen_ + ": メッセージを最後まで読みませんでした");
  }
  return MailResult::Done(fields.message_id);
}

}  // namespace

std::vector<std::string> SendmailArguments(std::string_view sender_address,
                                           std::string_view recipient_address) {
  return {"-i", "-f", std::string(sender_address), "--", std::string(recipient_address)};
}

std::string SendmailFailureReason(int wait_status, std::string_view error_output,
                                  std::string_view password) {
  std::string reason;
  if (WIFEXITED(wait_status)) {
    reason = "終了状態 " + std::to_string(WEXITSTATUS(wait_status));
  } else if (WIFSIGNALED(wait_status)) {
    reason = "シグナル " + std::to_string(WTERMSIG(wait_status)) + " で終了";
  } else {
    reason = "異常終了";
  }
  const std::string line = FirstLine(MaskCredentials(error_output, {}, password));
  if (!line.empty()) reason += ": " + line;
  return reason;
}

std::unique_ptr<MailTransport> MakeSendmailTransport(std::string program, const Mailbox& sender) {
  return std::make_unique<SendmailTransport>(std::move(program), sender);
}

}  // namespace pinemail
