// The loopback redirect target on POSIX.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mail/net/loopback.h"

namespace pinemail {

LoopbackListener::LoopbackListener() : socket_(-1) {}

LoopbackListener::~LoopbackListener() {
  for (const Connection& connection : connections_) close(connection.socket);
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

namespace detail {

bool WaitToRead(std::span<const SocketHandle> sockets, std::chrono::milliseconds limit,
                std::vector<bool>* readable) {
  std::vector<pollfd> waits;
  for (const SocketHandle socket : sockets) waits.push_back({socket, POLLIN, 0});
  const int count = static_cast<int>(std::min<long long>(limit.count(), 1 << 30));
  const int ready = poll(waits.data(), waits.size(), count);
  // A signal's interruption is nothing to read yet; the caller waits on.
  if (ready == 0 || (ready < 0 && errno != EINTR)) return false;
  readable->clear();
  for (const pollfd& wait : waits) readable->push_back(wait.revents != 0);
  return true;
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* reason) {
  const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0)
    *reason = "ブラウザからの接続を受けられません: " + std::string(std::strerror(errno));
  return client;
}

bool IsValidSocket(SocketHandle socket) { return socket >= 0; }

long Receive(SocketHandle socket, char* buffer, std::size_t size) {
  return static_cast<long>(recv(socket, buffer, size, 0));
}

void SendAll(SocketHandle socket, std::string_view bytes) {
  send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void CloseSocket(SocketHandle socket) { close(socket); }

}  // namespace detail

}  // namespace pinemail
