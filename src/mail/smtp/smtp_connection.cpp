// An SMTP connection over libcurl: the session opened by the library, then
// writes and reads of our own, each within its deadline.
#include "mail/smtp/smtp_connection.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "mail/net/net.h"
#include "mail/net/waits.h"
#include "mail/smtp/smtp_pipeline.h"
#include "mail/smtp/smtp_refusal.h"

namespace pinemail {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// Handing the server one message, or the commands before it.
constexpr std::chrono::seconds kWriteSeconds{60};

std::string WaitText(Milliseconds wait) {
  return std::to_string((wait.count() + 500) / 1000) + " 秒";
}

// A connect-only handle receives no body data; should any come, it must not
// end up on standard output.
size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// What libcurl says when it drops the rest of a line too long for its
// buffer; the dropped bytes never reach WatchReplies.
constexpr std::string_view kLibcurlLineCut = "Excessive server response line length";

// Only the server's reply lines are watched; everything else (including the
// AUTH exchange we send) is dropped, so no credential is ever kept. Nothing
// but the last refusal, the capabilities and the protocol error is needed
// here, so the replies are not kept waiting.
int WatchReplies(CURL*, curl_infotype type, char* data, size_t size, void* context) {
  SmtpReplyTracker* replies = static_cast<SmtpConnection::Watch*>(context)->replies;
  const std::string_view text(data, size);
  if (type == CURLINFO_HEADER_IN) {
    replies->Feed(text);
    SmtpReply ignored;
    while (replies->TakeReply(&ignored)) {
    }
  } else if (type == CURLINFO_TEXT && text.starts_with(kLibcurlLineCut)) {
    replies->LineTooLong();
  }
  return 0;
}

// libcurl asks from time to time, also while it opens the session: a server
// that broke the protocol ends it at once rather than at the deadline.
int StopOnProtocolError(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<SmtpConnection::Watch*>(context)->replies->failure().empty() ? 0 : 1;
}

static_assert(std::is_same_v<curl_socket_t, SocketHandle>);

// A session in plain text may only reach this machine: whatever the name
// resolved to, a connection to any other address is refused here.
curl_socket_t OpenSessionSocket(void* context, curlsocktype, curl_sockaddr* address) {
  const auto* watch = static_cast<SmtpConnection::Watch*>(context);
  if (watch->loopback_only && !IsLoopbackAddress(&address->addr)) return CURL_SOCKET_BAD;
  return OpenSocket(address->family, address->socktype, address->protocol);
}

// Waits until `socket` is ready as asked, `deadline` passes or a minute is
// over; the caller checks which.
void WaitUntil(curl_socket_t socket, SocketReady ready, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return;
  WaitForSocket(socket, ready, std::min<Milliseconds>(left, std::chrono::minutes(1)));
}

// The URL libcurl connects to; no path, so that it greets with the local
// host name.
std::string SessionUrl(const SmtpEndpoint& endpoint) {
  std::string url = endpoint.implicit_tls ? "smtps://" : "smtp://";
  const bool ipv6 = endpoint.host.find(':') != std::string::npos;
  url += ipv6 ? "[" + endpoint.host + "]" : endpoint.host;
  const int port = endpoint.port != 0      ? endpoint.port
                   : endpoint.implicit_tls ? kImplicitTlsPort
                                           : kSubmissionPort;
  return url + ":" + std::to_string(port);
}

}  // namespace

SmtpConnection::SmtpConnection(SmtpEndpoint endpoint, TransportTuning tuning)
    : endpoint_(std::move(endpoint)), tuning_(std::move(tuning)) {}

Milliseconds SmtpConnection::Scaled(std::chrono::seconds wait) const {
  return ScaledWait(wait, tuning_.wait_scale);
}

void SmtpConnection::SetSessionOptions(const std::string& user_name, const std::string& password) {
  CURL* const curl = curl_.get();
  curl_easy_setopt(curl, CURLOPT_URL, SessionUrl(endpoint_).c_str());
  // Connect, start TLS, greet and authenticate, then hand the connection
  // over for the mail transactions.
  curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
  // Plain text only to this machine itself, decided by the address connected
  // to (OpenSessionSocket), not by the name; anywhere else STARTTLS must work.
  watch_ = {&replies_, !endpoint_.implicit_tls && ResolvesToLoopbackOnly(endpoint_.host)};
  curl_easy_setopt(curl, CURLOPT_USE_SSL,
                   static_cast<long>(watch_.loopback_only ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSessionSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &watch_);
  if (!user_name.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_name.c_str());
    if (endpoint_.xoauth2) {
      curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, password.c_str());
      curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    } else {
      curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }
  }
  // libcurl counts the greeting, EHLO, STARTTLS and AUTH as part of
  // connecting, so its connect deadline is the one for command replies.
  const Milliseconds reply_wait = Scaled(SmtpReplyDeadline(SmtpStep::kMail));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(reply_wait.count()));
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   std::max(1L, static_cast<long>(reply_wait.count() / 1000)));
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, WatchReplies);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &watch_);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopOnProtocolError);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch_);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
}

bool SmtpConnection::Open(const std::string& user_name, const std::string& password,
                          std::string* failure, SmtpReply* refusal) {
  Close();
  *refusal = SmtpReply();
  curl_ = NewCurlHandle("smtp,smtps", tuning_.ca_file);
  if (!curl_) {
    *failure = kCurlNotStartedReason;
    return false;
  }
  replies_.Clear();
  SetSessionOptions(user_name, password);
  if (Perform(user_name, password, failure, refusal)) {
    pipelining_ = replies_.offers_pipelining();
    chunking_ = replies_.offers_chunking();
    size_limit_ = replies_.size_limit();
    replies_.Clear();
    return true;
  }
  Close();
  return false;
}

// libcurl opens the session; what it left behind says how that went.
bool SmtpConnection::Perform(const std::string& user_name, const std::string& password,
                             std::string* failure, SmtpReply* refusal) {
  error_[0] = '\0';
  const CURLcode code = curl_easy_perform(curl_.get());
  if (code == CURLE_OK) curl_easy_getinfo(curl_.get(), CURLINFO_ACTIVESOCKET, &socket_);
  if (!replies_.failure().empty()) {
    *failure = replies_.failure();
    return false;
  }
  if (code != CURLE_OK || socket_ == CURL_SOCKET_BAD) {
    const std::string library_error =
        error_[0] != '\0' ? error_
                          : curl_easy_strerror(code != CURLE_OK ? code : CURLE_FAILED_INIT);
    *refusal = replies_.last_refusal();
    *failure = SmtpFailureReason(refusal->code, refusal->text, library_error, user_name, password);
    return false;
  }
  if (!user_name.empty() && !replies_.authenticated()) {
    // libcurl goes on without AUTH when the server offers none; mail would
    // then leave unauthenticated, perhaps after a downgrade.
    *failure = "ユーザー名が設定されていますが、サーバーが認証 (AUTH) を受け付けません";
    return false;
  }
  return true;
}

void SmtpConnection::Close() {
  curl_.reset();
  socket_ = CURL_SOCKET_BAD;
}

bool SmtpConnection::Write(std::string_view bytes, std::string* error) {
  const Milliseconds wait = Scaled(kWriteSeconds);
  const auto deadline = Clock::now() + wait;
  while (!bytes.empty()) {
    if (Clock::now() >= deadline) {
      *error = "サーバーへの送信が " + WaitText(wait) + "以内に終わりませんでした";
      return false;
    }
    std::size_t sent = 0;
    const CURLcode code = curl_easy_send(curl_.get(), bytes.data(), bytes.size(), &sent);
    if (code == CURLE_OK) {
      bytes.remove_prefix(sent);
      continue;
    }
    if (code != CURLE_AGAIN) {
      *error = std::string("送信中に接続が切れました: ") + curl_easy_strerror(code);
      return false;
    }
    // The socket's send buffer is full: the server is not reading yet. The
    // deadline is checked at the top of the loop.
    WaitUntil(socket_, SocketReady::kToWrite, deadline);
  }
  return true;
}

bool SmtpConnection::ReadReply(std::chrono::seconds wait, SmtpReply* reply, std::string* error) {
  const Milliseconds scaled = Scaled(wait);
  const auto deadline = Clock::now() + scaled;
  char buffer[4096];
  while (!replies_.TakeReply(reply)) {
    if (!replies_.failure().empty()) {
      *error = replies_.failure();
      return false;
    }
    if (Clock::now() >= deadline) {
      *error = "サーバーから " + WaitText(scaled) + "以内に応答がありませんでした";
      return false;
    }
    std::size_t got = 0;
    const CURLcode code = curl_easy_recv(curl_.get(), buffer, sizeof buffer, &got);
    if (code == CURLE_OK) {
      if (got == 0) {
        *error = "サーバーが接続を閉じました";
        return false;
      }
      replies_.Feed(std::string_view(buffer, got));
    } else if (code == CURLE_AGAIN) {
      WaitUntil(socket_, SocketReady::kToRead, deadline);
    } else {
      *error = std::string("受信中に接続が切れました: ") + curl_easy_strerror(code);
      return false;
    }
  }
  return true;
}

}  // namespace pinemail
