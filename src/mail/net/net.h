// The socket calls the SMTP session makes beside libcurl, with one face on
// every platform: net_posix.cpp (poll, getaddrinfo) and net_win32.cpp
// (WSAPoll, Winsock). The session code itself includes no system header.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct sockaddr;

namespace pinemail {

// A socket as the system (and libcurl's curl_socket_t) knows it.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // SOCKET
#else
using SocketHandle = int;
#endif

// An IPv4 or IPv6 address, its bytes in network order.
struct IpAddress {
  int version = 0;                       // 4 or 6; 0 for an address of another family
  std::array<std::uint8_t, 16> bytes{};  // IPv4: the first 4
};

// The IP address in a socket address (platform file).
IpAddress IpAddressOf(const sockaddr* address);

// The addresses a resolver finds for sockets of `socket_type`: `lookup`
// (hints, &list) fills a list of `Info` entries (addrinfo, ADDRINFOW) and
// returns 0, and `release` frees that list.
template <typename Info, typename Lookup, typename Release>
std::vector<IpAddress> ResolveWith(int socket_type, Lookup lookup, Release release) {
  Info hints{};
  hints.ai_socktype = socket_type;
  Info* found = nullptr;
  if (lookup(&hints, &found) != 0) return {};
  std::vector<IpAddress> addresses;
  for (const Info* entry = found; entry != nullptr; entry = entry->ai_next) {
    addresses.push_back(IpAddressOf(entry->ai_addr));
  }
  release(found);
  return addresses;
}

// The addresses `host` resolves to for a stream connection; empty when it
// resolves to none (platform file).
std::vector<IpAddress> ResolveHost(const std::string& host);

// A new socket, or the system's invalid socket (platform file).
SocketHandle OpenSocket(int family, int type, int protocol);

enum class SocketReady { kToRead, kToWrite };

// Waits until `socket` is ready as asked or `limit` has passed; the caller
// checks which (platform file).
void WaitForSocket(SocketHandle socket, SocketReady ready, std::chrono::milliseconds limit);

// True for an address of this machine that needs no network: the loopback
// ones (127.0.0.0/8, ::1, and 127.0.0.0/8 mapped into IPv6) and the
// unspecified ones (0.0.0.0, ::), which connect to this machine.
bool IsLoopbackAddress(const IpAddress& address);
bool IsLoopbackAddress(const sockaddr* address);

// True when `host` resolves, and every address it resolves to is one of
// this machine's.
bool ResolvesToLoopbackOnly(const std::string& host);

}  // namespace pinemail
