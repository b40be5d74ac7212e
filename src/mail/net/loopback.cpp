// Serves the code grant's redirect: the browser's connections side by side,
// each answered once its request has come whole.
#include "mail/net/loopback.h"

#include <algorithm>

namespace pinemail {
namespace {

// The most connections kept open at a time: a browser opens a few ahead.
constexpr std::size_t kMostConnections = 8;
// The longest request head read; a longer one is answered as it is.
constexpr std::size_t kMostHeadBytes = 8192;

std::chrono::milliseconds Until(std::chrono::steady_clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()),
                  std::chrono::milliseconds(0));
}

std::string PageReply(std::string_view page) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
         "Connection: close\r\nContent-Length: " +
         std::to_string(page.size()) + "\r\n\r\n" + std::string(page);
}

}  // namespace

bool LoopbackListener::Accept(std::chrono::steady_clock::time_point deadline, std::string_view page,
                              std::string* target, std::string* reason) {
  for (;;) {
    std::vector<SocketHandle> watched = {socket_};
    for (const Connection& connection : connections_) watched.push_back(connection.socket);
    std::vector<bool> readable;
    if (!detail::WaitToRead(watched, Until(deadline), &readable)) {
      *reason = "ブラウザからの応答がありませんでした";
      return false;
    }
    // From the last, so that dropping one leaves the indexes before it.
    for (std::size_t i = connections_.size(); i-- > 0;) {
      if (!readable[i + 1] || !ReadRequest(i)) continue;
      detail::SendAll(connections_[i].socket, PageReply(page));
      detail::CloseSocket(connections_[i].socket);
      *target = RequestTarget(connections_[i].head);
      connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
    if (readable[0] && !TakeConnection(reason)) return false;
  }
}

bool LoopbackListener::TakeConnection(std::string* reason) {
  const SocketHandle accepted = detail::AcceptConnection(socket_, reason);
  if (!detail::IsValidSocket(accepted)) return false;
  if (connections_.size() == kMostConnections) {
    detail::CloseSocket(connections_.front().socket);
    connections_.erase(connections_.begin());
  }
  connections_.push_back({accepted, {}});
  return true;
}

bool LoopbackListener::ReadRequest(std::size_t index) {
  Connection& connection = connections_[index];
  char chunk[1024];
  const long got = detail::Receive(connection.socket, chunk, sizeof chunk);
  if (got <= 0) {
    detail::CloseSocket(connection.socket);
    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
    return false;
  }
  connection.head.append(chunk, static_cast<std::size_t>(got));
  return connection.head.find("\r\n\r\n") != std::string::npos ||
         connection.head.size() >= kMostHeadBytes;
}

std::string RequestTarget(std::string_view head) {
  const std::size_t start = head.find(' ');
  if (start == std::string_view::npos) return {};
  const std::size_t end = head.find_first_of(" \r\n", start + 1);
  return std::string(head.substr(start + 1, end == std::string_view::npos ? end : end - start - 1));
}

}  // namespace pinemail
