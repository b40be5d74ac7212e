// The loopback redirect target and the browser on POSIX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mail/loopback.h"

extern char** environ;

namespace pinemail {

LoopbackListener::LoopbackListener() : socket_(-1) {}

LoopbackListener::~LoopbackListener() {
  if (socket_ >= 0) close(socket_);
}

bool LoopbackListener::Open(int* port, std::string* reason) {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(socket_, 4) != 0 ||
      getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *reason = "127.0.0.1 で待ち受けできません: " + std::string(std::strerror(errno));
    return false;
  }
  *port = ntohs(address.sin_port);
  return true;
}

bool LoopbackListener::Accept(std::chrono::steady_clock::time_point deadline, std::string_view page,
                              std::string* target, std::string* reason) {
  auto left = [deadline] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, ms.count()));
  };
  pollfd wait = {socket_, POLLIN, 0};
  if (poll(&wait, 1, left()) <= 0) {
    *reason = "ブラウザからの応答がありませんでした";
    return false;
  }
  const int client = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) {
    *reason = "ブラウザからの接続を受けられません: " + std::string(std::strerror(errno));
    return false;
  }
  std::string head;
  char chunk[1024];
  pollfd read_wait = {client, POLLIN, 0};
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 8192 &&
         poll(&read_wait, 1, left()) > 0) {
    const ssize_t got = recv(client, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    head.append(chunk, static_cast<std::size_t>(got));
  }
  const std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(page.size()) + "\r\n\r\n" + std::string(page);
  send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
  close(client);
  *target = RequestTarget(head);
  return true;
}

bool OpenBrowser(const std::string& url) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t pid = 0;
  const bool started = posix_spawnp(&pid, "xdg-open", &actions, nullptr,
                                    const_cast<char* const*>(argv), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

}  // namespace pinemail
