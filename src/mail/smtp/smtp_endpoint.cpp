// Reads the "Mail Server" value of the SMTP transports.
#include "mail/smtp/smtp_endpoint.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "text/ascii.h"

namespace pinemail {
namespace {

bool IsHostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsIpv6Char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

bool ParsePort(std::string_view digits, int* port) {
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

// Splits "host[:port]" or "[v6]:port" into the endpoint.
bool ParseAuthority(std::string_view authority, SmtpEndpoint* out, std::string* error) {
  std::string_view host;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      *error = "IPv6 アドレスに ']' がありません";
      return false;
    }
    host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsIpv6Char)) {
      *error = "IPv6 アドレスが正しくありません";
      return false;
    }
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostNameChar)) {
      *error = "ホスト名が正しくありません";
      return false;
    }
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || !ParsePort(rest.substr(1), &out->port)) {
      *error = "ポート番号が正しくありません";
      return false;
    }
  }
  out->host = std::string(host);
  return true;
}

}  // namespace

bool ParseSmtpServer(std::string_view value, SmtpEndpoint* out, std::string* error) {
  SmtpEndpoint endpoint;
  std::string_view rest;
  if (StartsWithNoCase(value, "smtps://")) {
    endpoint.implicit_tls = true;
    rest = value.substr(8);
  } else if (StartsWithNoCase(value, "smtp://")) {
    rest = value.substr(7);
  } else {
    *error = "smtp:// または smtps:// のアドレスではありません";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#@") != std::string_view::npos) {
    *error =
        "smtp://ホスト[:ポート] の形だけを受け付けます (ユーザー名、パスワード、パスは書けません)";
    return false;
  }
  if (!ParseAuthority(rest, &endpoint, error)) return false;
  *out = std::move(endpoint);
  return true;
}

}  // namespace pinemail
