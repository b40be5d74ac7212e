// Sends mail over SMTP with libcurl: one easy handle per run, so that one
// connection (one EHLO, one AUTH) carries every message.
#include "batch/smtp_transport_posix.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
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

// Where the read callback takes the message bytes from.
struct UploadSource {
  std::string_view bytes;
  std::size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* data) {
  auto* source = static_cast<UploadSource*>(data);
  const std::size_t room = size * count;
  const std::size_t left = source->bytes.size() - source->offset;
  const std::size_t n = std::min(room, left);
  std::memcpy(buffer, source->bytes.data() + source->offset, n);
  source->offset += n;
  return n;
}

// Replies to NOOP arrive as "body" data; nothing in them is needed.
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
  std::string Url() const;
  void SetSessionOptions(const std::string& user_name, const std::string& password);
  CURLcode Perform();
  SendResult Deliver(const std::string& bytes, const std::string& recipient);
  SendResult Failure(CURLcode code) const;

  SmtpEndpoint endpoint_;
  Mailbox sender_;
  std::string url_;
  std::string password_;  // only to mask it in failure texts
  CURL* curl_ = nullptr;
  char error_[CURL_ERROR_SIZE] = {};
  SmtpReplyTracker replies_;
  UploadSource upload_;
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

void SmtpTransport::SetSessionOptions(const std::string& user_name, const std::string& password) {
  url_ = Url();
  curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#else
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS, CURLPROTO_SMTP | CURLPROTO_SMTPS);
#endif
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
  if (!user_name.empty()) {
    curl_easy_setopt(curl_, CURLOPT_USERNAME, user_name.c_str());
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.c_str());
  }
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, kReplyTimeoutSeconds);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
  // Without this libcurl sets and restores the SIGPIPE handler around every
  // step, some fifteen system calls per message; its sends carry
  // MSG_NOSIGNAL anyway, and names are resolved on a thread, not by alarm.
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  // The smallest upload buffer: libcurl allocates it, and twice its size for
  // dot-stuffing, for every message; at the default the heap is grown and
  // trimmed again each time. Messages are a few kilobytes.
  curl_easy_setopt(curl_, CURLOPT_UPLOAD_BUFFERSIZE, 16384L);
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, WatchReplies);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &replies_);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, DiscardBody);
  curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(curl_, CURLOPT_READDATA, &upload_);
}

CURLcode SmtpTransport::Perform() {
  replies_.Clear();
  error_[0] = '\0';
  return curl_easy_perform(curl_);
}

SendResult SmtpTransport::Failure(CURLcode code) const {
  std::string library_error = error_[0] != '\0' ? error_ : curl_easy_strerror(code);
  return {false, SmtpFailureReason(replies_.last_refusal_code(), replies_.last_refusal(),
                                   library_error, password_)};
}

bool SmtpTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  sign_on_failure_ = "libcurl could not be started";
  if (!InitCurlOnce()) return false;
  curl_ = curl_easy_init();
  if (curl_ == nullptr) return false;
  sign_on_failure_.clear();
  password_ = password;
  SetSessionOptions(user_name, password);
  // A NOOP without recipients makes libcurl connect, start TLS, greet and
  // authenticate, and then keep the connection for the messages.
  curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, "NOOP");
  const CURLcode code = Perform();
  curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, nullptr);
  if (code != CURLE_OK) {
    sign_on_failure_ = Failure(code).reason;
    SignOff();
    return false;
  }
  return true;
}

SendResult SmtpTransport::Deliver(const std::string& bytes, const std::string& recipient) {
  const std::string envelope_to = "<" + recipient + ">";
  const std::string envelope_from = "<" + sender_.address + ">";
  curl_slist* recipients = curl_slist_append(nullptr, envelope_to.c_str());
  if (recipients == nullptr) return {false, "out of memory"};
  curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, envelope_from.c_str());
  curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);

  SendResult result;
  std::size_t retries = 0;
  bool reconnected = false;
  for (;;) {
    upload_ = UploadSource{bytes, 0};
    const CURLcode code = Perform();
    if (code == CURLE_OK) {
      result.sent = true;
      break;
    }
    long new_connections = 0;
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &new_connections);
    // The kept connection had died (the server closed it between messages)
    // and not one reply came back: nothing reached the server, so the
    // message goes again over a new connection, once.
    if (!reconnected && new_connections == 0 && !replies_.any_reply()) {
      reconnected = true;
      curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
      continue;
    }
    if (replies_.last_refusal_code() / 100 == 4 && retries < std::size(kRetryPauseSeconds)) {
      std::this_thread::sleep_for(std::chrono::seconds(kRetryPauseSeconds[retries]));
      ++retries;
      continue;
    }
    result = Failure(code);
    break;
  }

  curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 0L);
  curl_easy_setopt(curl_, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, nullptr);
  curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, nullptr);
  curl_slist_free_all(recipients);
  upload_ = UploadSource{};
  return result;
}

SendResult SmtpTransport::Send(const OutgoingMessage& message) {
  if (curl_ == nullptr) return {false, "not signed on"};
  if (!IsPlainAddress(message.recipient_address)) {
    return {false, std::string(kBadAddressReason)};
  }
  const MessageFields fields = FieldsFor(message, sender_);
  return Deliver(WriteMessage(fields, "\r\n"), message.recipient_address);
}

void SmtpTransport::SignOff() {
  if (curl_ != nullptr) {
    curl_easy_cleanup(curl_);  // says QUIT on the kept connection
    curl_ = nullptr;
  }
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

void SmtpReplyTracker::TakeLine(std::string_view line) {
  any_reply_ = true;
  const bool coded = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                     [](char c) { return c >= '0' && c <= '9'; });
  if (!coded) return;
  const char separator = line.size() > 3 ? line[3] : ' ';
  const std::string_view text = TrimAscii(line.size() > 4 ? line.substr(4) : std::string_view());
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
  if (last_code_ >= 400) {
    last_refusal_ = last_reply_;
    last_refusal_code_ = last_code_;
  }
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

std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender) {
  return std::make_unique<SmtpTransport>(endpoint, sender);
}

}  // namespace pinemail
