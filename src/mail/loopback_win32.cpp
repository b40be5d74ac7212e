// The loopback redirect target and the browser on Windows.
#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "mail/loopback.h"
#include "text/wide_win32.h"

namespace pinemail {

LoopbackListener::LoopbackListener() : socket_(INVALID_SOCKET) {}

LoopbackListener::~LoopbackListener() {
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

bool LoopbackListener::Accept(std::chrono::steady_clock::time_point deadline, std::string_view page,
                              std::string* target, std::string* reason) {
  auto left = [deadline] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<INT>(std::max<long long>(0, ms.count()));
  };
  WSAPOLLFD wait = {socket_, POLLRDNORM, 0};
  if (WSAPoll(&wait, 1, left()) <= 0) {
    *reason = "ブラウザからの応答がありませんでした";
    return false;
  }
  const SOCKET client = accept(socket_, nullptr, nullptr);
  if (client == INVALID_SOCKET) {
    *reason = "ブラウザからの接続を受けられません (" + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  std::string head;
  char chunk[1024];
  WSAPOLLFD read_wait = {client, POLLRDNORM, 0};
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 8192 &&
         WSAPoll(&read_wait, 1, left()) > 0) {
    const int got = recv(client, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    head.append(chunk, static_cast<std::size_t>(got));
  }
  const std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(page.size()) + "\r\n\r\n" + std::string(page);
  send(client, reply.data(), static_cast<int>(reply.size()), 0);
  closesocket(client);
  *target = RequestTarget(head);
  return true;
}

bool OpenBrowser(const std::string& url) {
  const std::wstring wide = Utf8ToWide(url);
  return reinterpret_cast<INT_PTR>(
             ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

}  // namespace pinemail
