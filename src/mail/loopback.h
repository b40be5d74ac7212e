// The code grant's redirect target: one listening socket on 127.0.0.1 at a
// port the system picks (RFC 8252 7.3), and the browser opened at an address
// (loopback_<platform>.cpp).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "mail/net.h"

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
  // answers it with `page` (HTML) and gives its target ("/?code=...").
  bool Accept(std::chrono::steady_clock::time_point deadline, std::string_view page,
              std::string* target, std::string* reason);

 private:
  SocketHandle socket_;
  [[maybe_unused]] bool started_ = false;  // Windows: Winsock started here
};

// Opens `url` in the user's browser (xdg-open, open, ShellExecute); false
// when it could not be started.
bool OpenBrowser(const std::string& url);

// The request target of an HTTP request head ("GET /?a=b HTTP/1.1").
std::string RequestTarget(std::string_view head);

}  // namespace pinemail
