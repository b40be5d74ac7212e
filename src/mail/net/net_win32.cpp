// The socket calls on Windows: Winsock and WSAPoll. Winsock is started by
// curl_global_init before any of them is made.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "mail/net/net.h"
#include "text/wide_win32.h"

namespace pinemail {

static_assert(sizeof(SocketHandle) == sizeof(SOCKET));

IpAddress IpAddressOf(const sockaddr* address) {
  IpAddress ip;
  switch (address->sa_family) {
    case AF_INET:
      ip.version = 4;
      std::memcpy(ip.bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
      break;
    case AF_INET6:
      ip.version = 6;
      std::memcpy(ip.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
      break;
    default:
      break;
  }
  return ip;
}

std::vector<IpAddress> ResolveHost(const std::string& host) {
  const std::wstring wide_host = Utf8ToWide(host);
  auto lookup = [&](const ADDRINFOW* hints, ADDRINFOW** found) {
    return GetAddrInfoW(wide_host.c_str(), nullptr, hints, found);
  };
  return ResolveWith<ADDRINFOW>(SOCK_STREAM, lookup, FreeAddrInfoW);
}

SocketHandle OpenSocket(int family, int type, int protocol) {
  return socket(family, type, protocol);
}

void WaitForSocket(SocketHandle socket, SocketReady ready, std::chrono::milliseconds limit) {
  WSAPOLLFD wait{static_cast<SOCKET>(socket),
                 static_cast<SHORT>(ready == SocketReady::kToRead ? POLLRDNORM : POLLWRNORM), 0};
  WSAPoll(&wait, 1, static_cast<INT>(std::max<std::chrono::milliseconds::rep>(limit.count(), 0)));
}

}  // namespace pinemail
