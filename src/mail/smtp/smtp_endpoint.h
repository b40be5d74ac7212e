// Where an SMTP server is reached: the "Mail Server" value smtp:// or
// smtps:// read into a host, a port and the kind of TLS.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

inline constexpr int kSubmissionPort = 587;   // smtp://, STARTTLS
inline constexpr int kImplicitTlsPort = 465;  // smtps://

// Where an SMTP server is reached.
struct SmtpEndpoint {
  bool implicit_tls = false;  // smtps://
  std::string host;           // a name or an address; IPv6 without brackets
  int port = 0;
  bool xoauth2 = false;  // AUTH XOAUTH2: the password is an OAuth 2.0 access token
};

// Parses "smtp://host[:port]" or "smtps://host[:port]" (a trailing "/" is
// allowed; an IPv6 address goes in brackets). Credentials, paths and queries
// in the URL are refused so that no password can end up in a URL, and hence
// in an error text. False with `error` set when the value is not usable.
bool ParseSmtpServer(std::string_view value, SmtpEndpoint* out, std::string* error);

}  // namespace pinemail
