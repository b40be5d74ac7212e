// "Password Command" on POSIX: /bin/sh -c COMMAND with standard output on a
// pipe that only this process reads, standard input and error on /dev/null
// (nothing the command prints reaches the terminal).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mail/oauth.h"
#include "mail/password_command.h"

extern char** environ;

namespace pinemail {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

bool RunPasswordCommand(const std::string& command, std::string* secret, std::string* reason) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *reason = "Password Command を起動できません: " + std::string(std::strerror(errno));
    return false;
  }
  Fd read_end{ends[0]};
  Fd write_end{ends[1]};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, write_end.fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    *reason = "Password Command を起動できません: " + std::string(std::strerror(spawned));
    return false;
  }
  close(write_end.fd);
  write_end.fd = -1;
  std::string output;
  char chunk[4096];
  bool complete = true;
  for (;;) {
    const ssize_t got = read(read_end.fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output.size() + static_cast<std::size_t>(got) > kPasswordCommandOutputLimit) {
      complete = false;  // the command gets EPIPE or SIGPIPE once the pipe closes
      break;
    }
    output.append(chunk, static_cast<std::size_t>(got));
  }
  close(read_end.fd);
  read_end.fd = -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool ok = false;
  if (complete && !WIFEXITED(status)) {
    *reason = "Password Command がシグナルで終了しました";
  } else if (complete && WEXITSTATUS(status) != 0) {
    *reason = ExitReason(WEXITSTATUS(status));  // 127: the shell found no such program
  } else {
    ok = TakeFirstLine(output, complete, secret, reason);
  }
  std::fill(output.begin(), output.end(), '\0');
  return ok;
}

}  // namespace pinemail
