// The portable half of the socket calls: which addresses are this machine's.
#include "mail/net/net.h"

#include <algorithm>

namespace pinemail {

bool IsLoopbackAddress(const IpAddress& address) {
  const auto& b = address.bytes;
  if (address.version == 4)
    return b[0] == 127 ||
           std::all_of(b.begin(), b.begin() + 4, [](std::uint8_t x) { return x == 0; });
  if (address.version != 6) return false;
  const bool zero_head =
      std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; });
  const bool zero_to_15 = zero_head && std::all_of(b.begin() + 10, b.begin() + 15,
                                                   [](std::uint8_t x) { return x == 0; });
  // ::1 (loopback), :: (unspecified), ::ffff:127.x.x.x (IPv4 loopback mapped)
  if (zero_to_15 && (b[15] == 1 || b[15] == 0)) return true;
  return zero_head && b[10] == 0xFF && b[11] == 0xFF && b[12] == 127;
}

bool IsLoopbackAddress(const sockaddr* address) { return IsLoopbackAddress(IpAddressOf(address)); }

bool ResolvesToLoopbackOnly(const std::string& host) {
  const std::vector<IpAddress> addresses = ResolveHost(host);
  return !addresses.empty() &&
         std::all_of(addresses.begin(), addresses.end(),
                     [](const IpAddress& address) { return IsLoopbackAddress(address); });
}

}  // namespace pinemail
