// The code grant's redirect target: one listening socket on 127.0.0.1 at a
// port the system picks (RFC 8252 7.3) (loopback_<platform>.cpp; the serving
// itself in loopback.cpp).
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mail/net/net.h"

namespace pinemail {

class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Listens; `port` receives the port. False with a reason.
  bool Open(int* port, std::string* reason);
  // Waits until `deadline` for one HTTP request (its head at most 8 KiB),
  // answers it with `page` (HTML) and gives its target ("/?code=..."). The
  // connections are served side by side, a few at a time: one that a
  // browser opened ahead and left silent never holds up another's request,
  // and stays open for a later call.
  bool Accept(std::chrono::steady_clock::time_point deadline, std::string_view page,
              std::string* target, std::string* reason);

 private:
  struct Connection {
    SocketHandle socket;
    std::string head;  // the request received so far
  };
  // Takes a new connection, closing the oldest when too many are open.
  bool TakeConnection(std::string* reason);
  // Reads what `connection` sent; true when its request head is whole (or
  // as long as it may be). A connection closed before that is dropped.
  bool ReadRequest(std::size_t index);

  SocketHandle socket_;
  [[maybe_unused]] bool started_ = false;  // Windows: Winsock started here
  std::vector<Connection> connections_;
};

// The socket calls the listener's serving needs (loopback_<platform>.cpp).
namespace detail {
// Waits until one of `sockets` has something to read (a connection to take,
// for a listening one) or `limit` has passed; `readable` tells which (none,
// after a signal's interruption). False when the time passed.
bool WaitToRead(std::span<const SocketHandle> sockets, std::chrono::milliseconds limit,
                std::vector<bool>* readable);
// A new connection on `listener`, or an invalid socket with the reason.
SocketHandle AcceptConnection(SocketHandle listener, std::string* reason);
bool IsValidSocket(SocketHandle socket);
// Bytes read into `buffer` (at most `size`); 0 or less: closed or failed.
long Receive(SocketHandle socket, char* buffer, std::size_t size);
void SendAll(SocketHandle socket, std::string_view bytes);
void CloseSocket(SocketHandle socket);
}  // namespace detail

// The request target of an HTTP request head ("GET /?a=b HTTP/1.1").
std::string RequestTarget(std::string_view head);

}  // namespace pinemail
