// The socket calls on POSIX: BSD sockets and poll().
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "mail/net/net.h"

namespace pinemail {

IpAddress IpAddressOf(const sockaddr* address) {
  IpAddress ip;
  const void* bytes = nullptr;
  if (address->sa_family == AF_INET) {
    ip.version = 4;
    bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
  } else if (address->sa_family == AF_INET6) {
    ip.version = 6;
    bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  }
  if (bytes != nullptr) std::memcpy(ip.bytes.data(), bytes, ip.version == 4 ? 4 : 16);
  return ip;
}

std::vector<IpAddress> ResolveHost(const std::string& host) {
  auto lookup = [&](const addrinfo* hints, addrinfo** found) {
    return getaddrinfo(host.c_str(), nullptr, hints, found);
  };
  return ResolveWith<addrinfo>(SOCK_STREAM, lookup, freeaddrinfo);
}

SocketHandle OpenSocket(int family, int type, int protocol) {
  return socket(family, type, protocol);
}

void WaitForSocket(SocketHandle socket, SocketReady ready, std::chrono::milliseconds limit) {
  pollfd wait{socket, static_cast<short>(ready == SocketReady::kToRead ? POLLIN : POLLOUT), 0};
  poll(&wait, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(limit.count(), 0)));
}

}  // namespace pinemail
