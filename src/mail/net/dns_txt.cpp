// The parts of the TXT lookup both platforms share: what a failed query
// means, and the test server's address.
#include "mail/net/dns_txt.h"

#include <charconv>

#include "text/count.h"

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

}  // namespace

TxtAnswer TxtAnswer::QueryFailed(bool no_such_records, bool timed_out) {
  if (no_such_records) return NoRecords();
  return NoAnswer(timed_out ? "DNS サーバーから答えがありません" : "DNS に問い合わせできません");
}

bool ParseDnsServer(std::string_view server, std::string* address, int* port) {
  const std::size_t colon = server.find(':');
  const std::string_view host = server.substr(0, colon);
  int parsed_port = kDnsPort;
  if (!IsDottedIpv4(host)) return false;
  if (colon != std::string_view::npos &&
      (!ParseCount(server.substr(colon + 1), &parsed_port) || parsed_port > 65535)) {
    return false;
  }
  address->assign(host);
  *port = parsed_port;
  return true;
}

}  // namespace pinemail
