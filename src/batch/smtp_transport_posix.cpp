// Sends mail over SMTP: libcurl connects, starts TLS, greets and
// authenticates once per run; the mail transactions on that connection are
// spoken here, pipelined when the server offers it.
#include "batch/smtp_transport_posix.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr long kConnectTimeoutSeconds = 30;
// A server that stops answering, or a transfer that stalls, ends the attempt
// instead of hanging an unattended run.
constexpr long kReplyTimeoutSeconds = 60;
constexpr long kStallSeconds = 60;
constexpr int kQuitReplySeconds = 5;
// A temporary refusal (4xx) is tried again after these pauses, then logged.
constexpr int kRetryPauseSeconds[] = {1, 2};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != prefix[i]) return false;
  }
  return true;
}

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
      *error = "IPv6 address without ']'";
      return false;
    }
    host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsIpv6Char)) {
      *error = "bad IPv6 address";
      return false;
    }
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostNameChar)) {
      *error = "bad host name";
      return false;
    }
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || !ParsePort(rest.substr(1), &out->port)) {
      *error = "bad port";
      return false;
    }
  }
  out->host = std::string(host);
  return true;
}

// Replaces control characters, and every non-ASCII byte when the text is not
// UTF-8, so that a server's words fit one log line.
std::string Printable(std::string_view text) {
  const bool utf8 = IsValidUtf8(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += ' ';
    } else if (byte >= 0x80 && !utf8) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view TrimAscii(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

void MaskAll(std::string* text, std::string_view secret) {
  if (secret.empty()) return;
  constexpr std::string_view kMask = "********";
  for (std::size_t at = text->find(secret); at != std::string::npos;
       at = text->find(secret, at + kMask.size())) {
    text->replace(at, secret.size(), kMask);
  }
}

// A connect-only handle receives no body data; should any come, it must not
// end up on standard output.
size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// Only the server's reply lines are watched; everything else (including the
// AUTH exchange we send) is dropped, so no credential is ever kept.
int WatchReplies(CURL*, curl_infotype type, char* data, size_t size, void* tracker) {
  if (type == CURLINFO_HEADER_IN) {
    static_cast<SmtpReplyTracker*>(tracker)->Feed(std::string_view(data, size));
  }
  return 0;
}

// libcurl does not read CURL_CA_BUNDLE by itself; PINEMAIL_CA_FILE is meant
// for tests that trust their own certificate authority.
const char* CaFileFromEnvironment() {
  for (const char* name : {"PINEMAIL_CA_FILE", "CURL_CA_BUNDLE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

bool InitCurlOnce() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

// Waits until `socket` is ready for `events`; false once `deadline` passed.
bool WaitForSocket(curl_socket_t socket, short events,
                   std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd wait{socket, events, 0};
  const int milliseconds =
      static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 60'000));
  return poll(&wait, 1, milliseconds) != 0 || std::chrono::steady_clock::now() < deadline;
}

class SmtpTransport final : public MailTransport {
 public:
  SmtpTransport(SmtpEndpoint endpoint, Mailbox sender)
      : endpoint_(std::move(endpoint)), sender_(std::move(sender)) {}
  ~SmtpTransport() override { SignOff(); }
  SmtpTransport(const SmtpTransport&) = delete;
  SmtpTransport& operator=(const SmtpTransport&) = delete;

  bool SignOn(const std::string& user_name, const std::string& password) override;
  SendResult Send(const OutgoingMessage& message) override;
  void SignOff() override;
  std::string SignOnFailure() const override { return sign_on_failure_; }

 private:
  // How one attempt at a mail transaction ended.
  enum class Outcome { kSent, kRefused, kConnectionLost };

  std::string Url() const;
  void SetSessionOptions();
  bool Connect(std::string* failure);
  void Disconnect();
  bool SendAll(std::string_view bytes, std::string* error);
  bool ReadReply(SmtpReply* reply, int timeout_seconds, std::string* error);
  Outcome Transact(const std::string& commands, const std::string& payload, std::string* reason,
                   int* refusal_code, bool* replied);
  SendResult Deliver(const std::string& payload, const std::string& recipient);

  SmtpEndpoint endpoint_;
  Mailbox sender_;
  std::string url_;
  std::string user_name_;
  std::string password_;  // for AUTH on a new connection, and to mask it in failure texts
  CURL* curl_ = nullptr;
  curl_socket_t socket_ = CURL_SOCKET_BAD;
  bool pipelining_ = false;
  bool signed_on_ = false;  // a connection that was lost is made again
  char error_[CURL_ERROR_SIZE] = {};
  SmtpReplyTracker replies_;
  std::string sign_on_failure_;
};

std::string SmtpTransport::Url() const {
  std::string url = endpoint_.implicit_tls ? "smtps://" : "smtp://";
  const bool ipv6 = endpoint_.host.find(':') != std::string::npos;
  url += ipv6 ? "[" + endpoint_.host + "]" : endpoint_.host;
  const int port = endpoint_.port != 0      ? endpoint_.port
                   : endpoint_.implicit_tls ? kImplicitTlsPort
                                            : kSubmissionPort;
  // No path: libcurl then greets with the local host name.
  return url + ":" + std::to_string(port);
}

void SmtpTransport::SetSessionOptions() {
  url_ = Url();
  curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#else
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS, CURLPROTO_SMTP | CURLPROTO_SMTPS);
#endif
  // Connect, start TLS, greet and authenticate, then hand the connection
  // over for the mail transactions.
  curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);
  // Plain text only to this machine itself; anywhere else STARTTLS must work.
  const bool loopback = IsLoopbackHost(endpoint_.host);
  curl_easy_setopt(
      curl_, CURLOPT_USE_SSL,
      static_cast<long>(loopback && !endpoint_.implicit_tls ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca_file = CaFileFromEnvironment()) {
    curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_file);
  }
  if (!user_name_.empty()) {
    curl_easy_setopt(curl_, CURLOPT_USERNAME, user_name_.c_str());
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, password_.c_str());
  }
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, kReplyTimeoutSeconds);
  curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
  // Names are resolved on a thread, not by alarm, and sends carry
  // MSG_NOSIGNAL: no signal handler needs changing.
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, WatchReplies);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &replies_);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, DiscardBody);
}

// Opens a new connection; on failure `failure` says why, from the server's
// refusal or from libcurl.
bool SmtpTransport::Connect(std::string* failure) {
  Disconnect();
  curl_ = curl_easy_init();
  if (curl_ == nullptr) {
    *failure = "libcurl could not be started";
    return false;
  }
  SetSessionOptions();
  replies_.Clear();
  error_[0] = '\0';
  const CURLcode code = curl_easy_perform(curl_);
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket_);
  }
  if (code != CURLE_OK || socket_ == CURL_SOCKET_BAD) {
    const std::string library_error =
        error_[0] != '\0' ? error_
                          : curl_easy_strerror(code != CURLE_OK ? code : CURLE_FAILED_INIT);
    *failure = SmtpFailureReason(replies_.last_refusal_code(), replies_.last_refusal(),
                                 library_error, password_);
    Disconnect();
    return false;
  }
  pipelining_ = replies_.offers_pipelining();
  replies_.Clear();
  return true;
}

void SmtpTransport::Disconnect() {
  if (curl_ != nullptr) {
    curl_easy_cleanup(curl_);
    curl_ = nullptr;
  }
  socket_ = CURL_SOCKET_BAD;
}

bool SmtpTransport::SendAll(std::string_view bytes, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStallSeconds);
  while (!bytes.empty()) {
    std::size_t sent = 0;
    const CURLcode code = curl_easy_send(curl_, bytes.data(), bytes.size(), &sent);
    if (code == CURLE_OK) {
      bytes.remove_prefix(sent);
      continue;
    }
    if (code != CURLE_AGAIN) {
      *error = std::string("connection lost while sending: ") + curl_easy_strerror(code);
      return false;
    }
    // The socket's send buffer is full: the server is not reading yet.
    if (!WaitForSocket(socket_, POLLOUT, deadline)) {
      *error = "the server took no data for " + std::to_string(kStallSeconds) + " s";
      return false;
    }
  }
  return true;
}

// Reads until one whole reply is there. Bytes of later replies stay in the
// tracker for the next call.
bool SmtpTransport::ReadReply(SmtpReply* reply, int timeout_seconds, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  char buffer[4096];
  while (!replies_.TakeReply(reply)) {
    std::size_t got = 0;
    const CURLcode code = curl_easy_recv(curl_, buffer, sizeof buffer, &got);
    if (code == CURLE_OK) {
      if (got == 0) {
        *error = "the server closed the connection";
        return false;
      }
      replies_.Feed(std::string_view(buffer, got));
      continue;
    }
    if (code != CURLE_AGAIN) {
      *error = std::string("connection lost while receiving: ") + curl_easy_strerror(code);
      return false;
    }
    if (!WaitForSocket(socket_, POLLIN, deadline)) {
      *error = "no reply from the server within " + std::to_string(timeout_seconds) + " s";
      return false;
    }
  }
  return true;
}

// One attempt at MAIL, RCPT, DATA and the message. With PIPELINING the three
// commands go out together and their replies are read in order; without it
// each waits for the reply before. A refused transaction is reset, so the
// connection is ready for the next message.
SmtpTransport::Outcome SmtpTransport::Transact(const std::string& commands,
                                               const std::string& payload, std::string* reason,
                                               int* refusal_code, bool* replied) {
  *replied = false;
  auto lost = [&](const std::string& error) {
    *reason = error;
    Disconnect();
    return Outcome::kConnectionLost;
  };
  auto refused = [&](const SmtpReply& reply) {
    *reason =
        SmtpFailureReason(reply.code, reply.text, "unexpected reply: " + reply.text, password_);
    *refusal_code = reply.code;
  };
  std::string error;
  if (pipelining_ && !SendAll(commands, &error)) return lost(error);

  // The reply codes that let the message follow: 2xx to MAIL and RCPT, 354
  // to DATA.
  SmtpReply refusal;
  bool data_accepted = false;
  std::string_view rest = commands;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = rest.find('\n') + 1;
    if (!pipelining_ && !SendAll(rest.substr(0, end), &error)) return lost(error);
    rest.remove_prefix(end);
    SmtpReply reply;
    if (!ReadReply(&reply, kReplyTimeoutSeconds, &error)) {
      if (refusal.code == 0) return lost(error);
      // A server that refuses and hangs up (421) is logged with its refusal.
      break;
    }
    *replied = true;
    const bool ok = i < 2 ? reply.code / 100 == 2 : reply.code == 354;
    if (ok && i == 2) data_accepted = true;
    if (!ok && refusal.code == 0) refusal = std::move(reply);
    if (refusal.code != 0 && !pipelining_) break;
  }

  if (refusal.code == 0) {
    SmtpReply reply;
    if (!SendAll(payload, &error) || !ReadReply(&reply, kReplyTimeoutSeconds, &error)) {
      return lost(error);
    }
    if (reply.code / 100 == 2) return Outcome::kSent;
    // The transaction is over either way; nothing to reset.
    refused(reply);
    return Outcome::kRefused;
  }

  refused(refusal);
  if (!error.empty()) {
    Disconnect();
    return Outcome::kRefused;
  }
  SmtpReply reply;
  // A server that took DATA although a recipient was refused gets an empty
  // message, which it must refuse for want of recipients.
  if (data_accepted &&
      (!SendAll(".\r\n", &error) || !ReadReply(&reply, kReplyTimeoutSeconds, &error))) {
    Disconnect();
    return Outcome::kRefused;
  }
  if (!SendAll("RSET\r\n", &error) || !ReadReply(&reply, kReplyTimeoutSeconds, &error) ||
      reply.code / 100 != 2) {
    Disconnect();
  }
  return Outcome::kRefused;
}

SendResult SmtpTransport::Deliver(const std::string& payload, const std::string& recipient) {
  const std::string commands =
      "MAIL FROM:<" + sender_.address + ">\r\nRCPT TO:<" + recipient + ">\r\nDATA\r\n";
  std::size_t retries = 0;
  bool reconnected = false;
  for (;;) {
    std::string reason;
    if (curl_ == nullptr) {
      // The connection was lost after an earlier message.
      if (!Connect(&reason)) return {false, reason};
      reconnected = true;
    }
    int refusal_code = 0;
    bool replied = false;
    switch (Transact(commands, payload, &reason, &refusal_code, &replied)) {
      case Outcome::kSent:
        return {true, {}};
      case Outcome::kConnectionLost:
        // The kept connection had died (the server closed it between
        // messages) and not one reply came back: nothing reached the server,
        // so the message goes again over a new connection, once.
        if (!reconnected && !replied) continue;
        return {false, reason};
      case Outcome::kRefused:
        if (refusal_code / 100 == 4 && retries < std::size(kRetryPauseSeconds)) {
          std::this_thread::sleep_for(std::chrono::seconds(kRetryPauseSeconds[retries]));
          ++retries;
          continue;
        }
        return {false, reason};
    }
  }
}

bool SmtpTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  sign_on_failure_ = "libcurl could not be started";
  if (!InitCurlOnce()) return false;
  user_name_ = user_name;
  password_ = password;
  std::string failure;
  if (!Connect(&failure)) {
    sign_on_failure_ = failure;
    password_.clear();
    return false;
  }
  sign_on_failure_.clear();
  signed_on_ = true;
  return true;
}

SendResult SmtpTransport::Send(const OutgoingMessage& message) {
  if (!signed_on_) return {false, "not signed on"};
  if (!IsPlainAddress(message.recipient_address)) {
    return {false, std::string(kBadAddressReason)};
  }
  const MessageFields fields = FieldsFor(message, sender_);
  return Deliver(SmtpDataPayload(WriteMessage(fields, "\r\n")), message.recipient_address);
}

void SmtpTransport::SignOff() {
  if (curl_ != nullptr) {
    // A polite end; the reply is waited for briefly, and a server that has
    // gone already changes nothing.
    std::string error;
    SmtpReply reply;
    if (SendAll("QUIT\r\n", &error)) (void)ReadReply(&reply, kQuitReplySeconds, &error);
  }
  Disconnect();
  signed_on_ = false;
  password_.clear();
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
    *error = "not an smtp:// or smtps:// address";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#@") != std::string_view::npos) {
    *error = "only smtp://host[:port] is accepted (no user, password or path)";
    return false;
  }
  if (!ParseAuthority(rest, &endpoint, error)) return false;
  *out = std::move(endpoint);
  return true;
}

bool IsLoopbackHost(std::string_view host) {
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  if (lower == "localhost" || lower == "localhost.") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, lower.c_str(), &v4) == 1) {
    return (ntohl(v4.s_addr) >> 24) == 127;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, lower.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  return false;
}

void SmtpReplyTracker::Clear() { *this = SmtpReplyTracker(); }

void SmtpReplyTracker::Feed(std::string_view bytes) {
  partial_line_.append(bytes);
  std::size_t end;
  while ((end = partial_line_.find('\n')) != std::string::npos) {
    std::string line = partial_line_.substr(0, end);
    partial_line_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TakeLine(line);
  }
}

bool SmtpReplyTracker::TakeReply(SmtpReply* reply) {
  if (waiting_.empty()) return false;
  *reply = std::move(waiting_.front());
  waiting_.pop_front();
  return true;
}

void SmtpReplyTracker::TakeLine(std::string_view line) {
  any_reply_ = true;
  const bool coded = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                     [](char c) { return c >= '0' && c <= '9'; });
  if (!coded) return;
  const char separator = line.size() > 3 ? line[3] : ' ';
  const std::string_view text = TrimAscii(line.size() > 4 ? line.substr(4) : std::string_view());
  if (text.size() == 10 && StartsWithNoCase(text, "pipelining")) pending_pipelining_ = true;
  if (separator == '-') {
    if (!pending_text_.empty() && !text.empty()) pending_text_ += ' ';
    pending_text_ += text;
    return;
  }
  std::string joined = std::move(pending_text_);
  pending_text_.clear();
  if (!joined.empty() && !text.empty()) joined += ' ';
  joined += text;
  last_code_ = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  last_reply_ = Printable(std::string(line.substr(0, 3)) + (joined.empty() ? "" : " " + joined));
  if (last_code_ == 250) offers_pipelining_ = pending_pipelining_;
  pending_pipelining_ = false;
  if (last_code_ >= 400) {
    last_refusal_ = last_reply_;
    last_refusal_code_ = last_code_;
  }
  waiting_.push_back({last_code_, last_reply_});
}

std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view password) {
  std::string reason;
  if (reply_code >= 400 && !reply.empty()) {
    reason = Printable(reply);
  } else if (!library_error.empty()) {
    reason = Printable(library_error);
  } else {
    reason = "unknown SMTP error";
  }
  MaskAll(&reason, password);
  return reason;
}

// A line that starts with "." gets a second one; "." on a line of its own
// ends the data.
std::string SmtpDataPayload(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 8);
  bool line_start = true;
  for (char c : message) {
    if (line_start && c == '.') out += '.';
    out += c;
    line_start = c == '\n';
  }
  if (!line_start) out += "\r\n";
  out += ".\r\n";
  return out;
}

std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender) {
  return std::make_unique<SmtpTransport>(endpoint, sender);
}

}  // namespace pinemail
