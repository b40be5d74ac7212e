// The parts of the TXT lookup both platforms share: the test server's
// address.
#include "mail/net/dns_txt.h"

#include <charconv>

namespace pinemail {
namespace {

constexpr int kDnsPort = 53;

bool IsDottedIpv4(std::string_view text) {
  int parts = 0;
  while (true) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const std::size_t length = static_cast<std::size_t>(end - text.data());
    if (error != std::errc() || length == 0 || length > 3 || value > 255) return false;
    ++parts;
    text.remove_prefix(length);
    if (text.empty()) return parts == 4;
    if (text.front() != '.' || parts == 4) return false;
    text.remove_prefix(1);
  }
}

bool ParsePort(std::string_view text, int* port) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *port);
  return error == std::errc() && end == text.data() + text.size() && *port >= 1 && *port <= 65535;
}

}  // namespace

bool ParseDnsServer(std::string_view server, std::string* address, int* port) {
  const std::size_t colon = server.find(':');
  const std::string_view host = server.substr(0, colon);
  int parsed_port = kDnsPort;
  if (!IsDottedIpv4(host)) return false;
  if (colon != std::string_view::npos && !ParsePort(server.substr(colon + 1), &parsed_port)) {
    return false;
  }
  address->assign(host);
  *port = parsed_port;
  return true;
}

}  // namespace pinemail
