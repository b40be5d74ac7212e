// The loopback redirect target on Windows.
#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
// After windows.h, which it needs.
#include <ws2tcpip.h>

#include <algorithm>

#include "mail/net/loopback.h"

namespace pinemail {

LoopbackListener::LoopbackListener() : socket_(INVALID_SOCKET) {}

LoopbackListener::~LoopbackListener() {
  for (const Connection& connection : connections_) closesocket(connection.socket);
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  if (started_) WSACleanup();
}

bool LoopbackListener::Open(int* port, std::string* reason) {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  socket_ = started_ ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (socket_ == INVALID_SOCKET ||
      bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(socket_, 4) != 0 ||
      getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *reason = "127.0.0.1 で待ち受けできません (" + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  *port = ntohs(address.sin_port);
  return true;
}

namespace detail {

bool WaitToRead(std::span<const SocketHandle> sockets, std::chrono::milliseconds limit,
                std::vector<bool>* readable) {
  std::vector<WSAPOLLFD> waits;
  for (const SocketHandle socket : sockets) {
    waits.push_back({static_cast<SOCKET>(socket), POLLRDNORM, 0});
  }
  const INT count = static_cast<INT>(std::min<long long>(limit.count(), 1 << 30));
  if (WSAPoll(waits.data(), static_cast<ULONG>(waits.size()), count) <= 0) return false;
  readable->clear();
  for (const WSAPOLLFD& wait : waits) readable->push_back(wait.revents != 0);
  return true;
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* reason) {
  const SOCKET client = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (client == INVALID_SOCKET) {
    *reason = "ブラウザからの接続を受けられません (" + std::to_string(WSAGetLastError()) + ")";
  }
  return client;
}

bool IsValidSocket(SocketHandle socket) { return static_cast<SOCKET>(socket) != INVALID_SOCKET; }

long Receive(SocketHandle socket, char* buffer, std::size_t size) {
  return recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
}

void SendAll(SocketHandle socket, std::string_view bytes) {
  send(static_cast<SOCKET>(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
}

void CloseSocket(SocketHandle socket) { closesocket(static_cast<SOCKET>(socket)); }

}  // namespace detail

}  // namespace pinemail
