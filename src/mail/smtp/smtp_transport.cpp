// Sends mail over SMTP: libcurl connects, starts TLS, greets and
// authenticates once per run; the mail transactions on that connection are
// spoken here, pipelined when the server offers it.
#include "mail/smtp/smtp_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "mail/message/message_writer.h"
#include "mail/net/net.h"
#include "mail/net/waits.h"
#include "mail/smtp/smtp_payload.h"
#include "mail/smtp/smtp_reply.h"
#include "text/credential_mask.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// Every wait has a deadline, so that a server that stops answering cannot
// hang an unattended run. The lengths are RFC 5321's (4.5.3.2): 5 minutes for
// the reply to a command, the opening of the session included, and 10 for
// the reply to the end of the data, which a busy server may take long over:
// giving up early would log as failed a message that the server then
// delivers, and the next run would send it again.
constexpr int kReplySeconds = 5 * 60;
constexpr int kDataReplySeconds = 10 * 60;
// Handing the server one message, or the commands before it.
constexpr int kSendSeconds = 60;
constexpr int kQuitReplySeconds = 5;
// With CHUNKING: the most transactions handed over before their replies are
// read. More would gain little once the round trip is covered, and each
// leaves the server holding one more message of which the run has no
// outcome yet.
constexpr std::size_t kChunkingWindow = 8;

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A wait of `seconds`, shortened under test (ScaledWait).
Milliseconds Wait(int seconds) { return ScaledWait(std::chrono::seconds(seconds)); }

constexpr std::string_view kCurlNotStartedReason = "libcurl を開始できませんでした";

std::string WaitText(Milliseconds wait) {
  return std::to_string((wait.count() + 500) / 1000) + " 秒";
}

// A connect-only handle receives no body data; should any come, it must not
// end up on standard output.
size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// While libcurl opens the session: the replies it reads, and whether the
// session may stay in plain text.
struct SessionWatch {
  SmtpReplyTracker* replies = nullptr;
  bool loopback_only = false;
};

// What libcurl says when it drops the rest of a line too long for its
// buffer; the dropped bytes never reach WatchReplies.
constexpr std::string_view kLibcurlLineCut = "Excessive server response line length";

// Only the server's reply lines are watched; everything else (including the
// AUTH exchange we send) is dropped, so no credential is ever kept. Nothing
// but the last refusal, the capabilities and the protocol error is needed
// here, so the replies are not kept waiting.
int WatchReplies(CURL*, curl_infotype type, char* data, size_t size, void* context) {
  SmtpReplyTracker* replies = static_cast<SessionWatch*>(context)->replies;
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
  return static_cast<SessionWatch*>(context)->replies->failure().empty() ? 0 : 1;
}

static_assert(std::is_same_v<curl_socket_t, SocketHandle>);

// A session in plain text may only reach this machine: whatever the name
// resolved to, a connection to any other address is refused here.
curl_socket_t OpenSessionSocket(void* context, curlsocktype, curl_sockaddr* address) {
  if (static_cast<SessionWatch*>(context)->loopback_only && !IsLoopbackAddress(&address->addr)) {
    return CURL_SOCKET_BAD;
  }
  return OpenSocket(address->family, address->socktype, address->protocol);
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

// Waits until `socket` is ready as asked, `deadline` passes or a minute is
// over; the caller checks which.
void WaitUntil(curl_socket_t socket, SocketReady ready, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return;
  WaitForSocket(socket, ready, std::min<Milliseconds>(left, std::chrono::minutes(1)));
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
// A libcurl session handle, cleaned up when it goes.
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

class SmtpTransport final : public MailTransport {
 public:
  SmtpTransport(SmtpEndpoint endpoint, Mailbox sender, std::size_t messages_per_connection,
                MessageStamps stamps)
      : endpoint_(std::move(endpoint)),
        sender_(std::move(sender)),
        stamps_(std::move(stamps)),
        messages_per_connection_(messages_per_connection) {}
  ~SmtpTransport() override { SignOff(); }
  SmtpTransport(const SmtpTransport&) = delete;
  SmtpTransport& operator=(const SmtpTransport&) = delete;

  MailResult SignOn(const std::string& user_name, const std::string& password) override;
  MailResult Send(const OutgoingMessage& message) override;
  MailResult SendAhead(const OutgoingMessage& message,
                       std::span<const OutgoingMessage* const> ahead) override;
  std::vector<std::pair<const OutgoingMessage*, MailResult>> Settle() override;
  void SignOff() override;

 private:
  // How one attempt at a mail transaction ended.
  enum class Outcome { kSent, kRefused, kConnectionLost };

  std::string Url() const;
  void SetSessionOptions();
  bool Connect(std::string* failure, SmtpReply* refusal);
  void Disconnect();
  void Quit();
  bool SendAll(std::string_view bytes, std::string* error);
  bool ReadReply(SmtpReply* reply, Milliseconds wait, std::string* error);
  // What the replies to MAIL, RCPT and DATA said.
  struct CommandReplies {
    bool any = false;             // at least one reply came
    SmtpReply refusal;            // the first refusal; code 0 when every command was accepted
    bool sender_refused = false;  // that refusal answered MAIL FROM
    bool data_accepted = false;   // DATA got its 354 (pipelined, even after a refusal)
  };
  bool SendCommands(const std::string& commands, CommandReplies* replies, std::string* error);
  Outcome SendPayload(const std::string& payload, MailResult* failure);
  void EndRefusedTransaction(bool data_accepted, bool drop);
  MailResult Refusal(const SmtpReply& reply, bool sender_refused) const;
  Outcome Transact(const std::string& commands, const std::string& payload, MailResult* failure,
                   bool* replied);
  MailResult Deliver(const std::string& payload, const std::string& recipient,
                     const std::string& message_id);
  MailResult DeliverAlone(const OutgoingMessage& message);

  // One mail transaction handed to a server that pipelines, in the order
  // sent; null `message`: an RSET between transactions.
  struct Transaction {
    const OutgoingMessage* message = nullptr;
    std::string message_id;
    std::string payload;        // DATA: the message to send after its 354
    bool chunked = false;       // BDAT: the message went with the commands
    bool payload_sent = false;  // the message is with the server
    int replies = 0;            // replies to MAIL, RCPT and DATA/BDAT taken
    CommandReplies commands;
    bool done = false;   // `result` is its outcome
    bool again = false;  // it did not reach the server: it may go once more
    bool lost = false;   // the connection went before its outcome came
    MailResult result;
  };
  Transaction* InFlight(const OutgoingMessage* message);
  void Forget(const OutgoingMessage& message);
  std::size_t Unanswered() const;
  bool CanBegin() const;
  void Begin(const OutgoingMessage& message, std::string* out);
  void BeginQueued(std::string* out);
  void Write(const std::string& bytes);
  void TakeNextReply();
  void Lose(const std::string& reason);

  SmtpEndpoint endpoint_;
  Mailbox sender_;
  MessageStamps stamps_;
  std::size_t messages_per_connection_;  // 0: no limit
  std::size_t transactions_ = 0;         // on the connection in use
  std::string url_;
  std::string user_name_;
  std::string password_;  // for AUTH on a new connection, and to mask it in failure texts
  CurlHandle curl_;
  curl_socket_t socket_ = CURL_SOCKET_BAD;
  bool pipelining_ = false;
  bool signed_on_ = false;  // a connection that was lost is made again
  char error_[CURL_ERROR_SIZE] = {};
  SmtpReplyTracker replies_;
  SessionWatch watch_;
  // With PIPELINING: the transactions handed over whose outcome the run has
  // not taken yet, and the messages of the Send in hand that may begin.
  bool chunking_ = false;
  std::deque<Transaction> flight_;
  std::vector<const OutgoingMessage*> queue_;
  bool needs_reset_ = false;  // a BDAT transaction was refused: RSET before the next
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
  CURL* const curl = curl_.get();
  url_ = Url();
  curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#else
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS, CURLPROTO_SMTP | CURLPROTO_SMTPS);
#endif
  // Connect, start TLS, greet and authenticate, then hand the connection
  // over for the mail transactions.
  curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
  // Plain text only to this machine itself, decided by the address connected
  // to (OpenSocket), not by the name; anywhere else STARTTLS must work.
  watch_ = {&replies_, !endpoint_.implicit_tls && ResolvesToLoopbackOnly(endpoint_.host)};
  curl_easy_setopt(curl, CURLOPT_USE_SSL,
                   static_cast<long>(watch_.loopback_only ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSessionSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &watch_);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // Schannel (Windows) checks revocation; a revocation server that cannot be
  // reached must not fail every run. Other TLS libraries ignore the flag.
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  if (const char* ca_file = CaFileFromEnvironment()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file);
  }
  if (!user_name_.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_name_.c_str());
    if (endpoint_.xoauth2) {
      curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, password_.c_str());
      curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    } else {
      curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
    }
  }
  // libcurl counts the greeting, EHLO, STARTTLS and AUTH as part of
  // connecting, so its connect deadline is the one for command replies.
  const Milliseconds reply_wait = Wait(kReplySeconds);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(reply_wait.count()));
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   std::max(1L, static_cast<long>(reply_wait.count() / 1000)));
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  // Names are resolved on a thread, not by alarm, and sends carry
  // MSG_NOSIGNAL: no signal handler needs changing.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, WatchReplies);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &watch_);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopOnProtocolError);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch_);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
}

// Opens a new connection and signs on; on failure `failure` says why: a
// protocol error, the server's refusal (also in `refusal`; its code is 0
// when none came) or libcurl's error.
bool SmtpTransport::Connect(std::string* failure, SmtpReply* refusal) {
  Disconnect();
  *refusal = SmtpReply();
  curl_.reset(curl_easy_init());
  if (!curl_) {
    *failure = kCurlNotStartedReason;
    return false;
  }
  replies_.Clear();
  SetSessionOptions();
  error_[0] = '\0';
  const CURLcode code = curl_easy_perform(curl_.get());
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl_.get(), CURLINFO_ACTIVESOCKET, &socket_);
  }
  if (!replies_.failure().empty()) {
    *failure = replies_.failure();
  } else if (code != CURLE_OK || socket_ == CURL_SOCKET_BAD) {
    const std::string library_error =
        error_[0] != '\0' ? error_
                          : curl_easy_strerror(code != CURLE_OK ? code : CURLE_FAILED_INIT);
    *refusal = replies_.last_refusal();
    *failure =
        SmtpFailureReason(refusal->code, refusal->text, library_error, user_name_, password_);
  } else if (!user_name_.empty() && !replies_.authenticated()) {
    // libcurl goes on without AUTH when the server offers none; mail would
    // then leave unauthenticated, perhaps after a downgrade.
    *failure = "ユーザー名が設定されていますが、サーバーが認証 (AUTH) を受け付けません";
  } else {
    pipelining_ = replies_.offers_pipelining();
    // BDAT only pipelined: without PIPELINING every command waits for its
    // reply anyway, and DATA does as well.
    chunking_ = pipelining_ && replies_.offers_chunking();
    needs_reset_ = false;
    replies_.Clear();
    transactions_ = 0;
    return true;
  }
  Disconnect();
  return false;
}

void SmtpTransport::Disconnect() {
  curl_.reset();
  socket_ = CURL_SOCKET_BAD;
}

// A polite end of the connection; the reply is waited for briefly, and a
// server that has gone already changes nothing.
void SmtpTransport::Quit() {
  // A transaction waiting for its reply, in DATA perhaps, would take the
  // QUIT for its message: the connection is dropped instead.
  if (Unanswered() > 0) return Lose("接続を閉じました");
  if (curl_) {
    std::string error;
    SmtpReply reply;
    if (SendAll("QUIT\r\n", &error)) (void)ReadReply(&reply, Wait(kQuitReplySeconds), &error);
  }
  Disconnect();
}

bool SmtpTransport::SendAll(std::string_view bytes, std::string* error) {
  const Milliseconds wait = Wait(kSendSeconds);
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

// Reads until one whole reply is there, for `wait` at most, however the
// bytes trickle in. Bytes of later replies stay in the tracker for the next
// call. False on a protocol error, which ends the connection like a loss.
bool SmtpTransport::ReadReply(SmtpReply* reply, Milliseconds wait, std::string* error) {
  const auto deadline = Clock::now() + wait;
  char buffer[4096];
  while (!replies_.TakeReply(reply)) {
    if (!replies_.failure().empty()) {
      *error = replies_.failure();
      return false;
    }
    if (Clock::now() >= deadline) {
      *error = "サーバーから " + WaitText(wait) + "以内に応答がありませんでした";
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

// Sends MAIL, RCPT and DATA and reads their replies in order: with
// PIPELINING the three commands go out together, without it each waits for
// the reply before. False when the connection failed before any refusal
// came, with `error` saying why; once a command was refused, a failed read
// ends the reading with `error` set, and true is returned all the same.
bool SmtpTransport::SendCommands(const std::string& commands, CommandReplies* replies,
                                 std::string* error) {
  if (pipelining_ && !SendAll(commands, error)) return false;
  // The reply codes that let the message follow: 2xx to MAIL and RCPT, 354
  // to DATA.
  SmtpReply& refusal = replies->refusal;
  std::string_view rest = commands;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = rest.find('\n') + 1;
    if (!pipelining_ && !SendAll(rest.substr(0, end), error)) return false;
    rest.remove_prefix(end);
    SmtpReply reply;
    if (!ReadReply(&reply, Wait(kReplySeconds), error)) {
      // A server that refuses and hangs up (421) is logged with its refusal.
      return refusal.code != 0;
    }
    replies->any = true;
    const bool ok = i < 2 ? reply.code / 100 == 2 : reply.code == 354;
    if (ok && i == 2) replies->data_accepted = true;
    if (!ok && refusal.code == 0) {
      refusal = std::move(reply);
      replies->sender_refused = i == 0;
    }
    if (refusal.code != 0 && !pipelining_) break;
  }
  return true;
}

// The message after DATA was accepted, and the server's verdict on it.
SmtpTransport::Outcome SmtpTransport::SendPayload(const std::string& payload, MailResult* failure) {
  std::string error;
  SmtpReply reply;
  if (!SendAll(payload, &error) || !ReadReply(&reply, Wait(kDataReplySeconds), &error)) {
    *failure = MailResult::ConnectionLost(error);
    Disconnect();
    return Outcome::kConnectionLost;
  }
  if (reply.code / 100 == 2) return Outcome::kSent;
  // The transaction is over either way; nothing to reset. A 421 closes the
  // connection (RFC 5321 3.8): the next attempt needs a new one.
  *failure = Refusal(reply, false);
  if (reply.code == 421) Disconnect();
  return Outcome::kRefused;
}

// Ends a refused transaction so that the connection is ready for the next
// message; a connection that cannot be, or that `drop` says is done, goes.
void SmtpTransport::EndRefusedTransaction(bool data_accepted, bool drop) {
  if (drop) return Disconnect();
  std::string error;
  SmtpReply reply;
  // A server that took DATA although a recipient was refused gets an empty
  // message, which it must refuse for want of recipients.
  if (data_accepted &&
      (!SendAll(".\r\n", &error) || !ReadReply(&reply, Wait(kDataReplySeconds), &error))) {
    return Disconnect();
  }
  if (!SendAll("RSET\r\n", &error) || !ReadReply(&reply, Wait(kReplySeconds), &error) ||
      reply.code / 100 != 2) {
    Disconnect();
  }
}

// A refusal as the batch run judges it: the sender refused (MAIL FROM) or a
// 421 (the server closes the session, RFC 5321 3.8) concern the account or
// the session; anything else this one message.
MailResult SmtpTransport::Refusal(const SmtpReply& reply, bool sender_refused) const {
  const bool session = sender_refused || reply.code == 421;
  return MailResult::Refused(
      session ? MailOutcome::kSessionRefused : MailOutcome::kFailed,
      SmtpFailureReason(reply.code, reply.text, "想定外の応答: " + reply.text, user_name_,
                        password_),
      reply.code, SmtpEnhancedStatus(reply.text));
}

// One attempt at MAIL, RCPT, DATA and the message. A refused transaction is
// reset, so the connection is ready for the next message.
SmtpTransport::Outcome SmtpTransport::Transact(const std::string& commands,
                                               const std::string& payload, MailResult* failure,
                                               bool* replied) {
  CommandReplies replies;
  std::string error;
  const bool answered = SendCommands(commands, &replies, &error);
  *replied = replies.any;
  if (!answered) {
    *failure = MailResult::ConnectionLost(error);
    Disconnect();
    return Outcome::kConnectionLost;
  }
  ++transactions_;
  if (replies.refusal.code == 0) return SendPayload(payload, failure);
  *failure = Refusal(replies.refusal, replies.sender_refused);
  EndRefusedTransaction(replies.data_accepted, !error.empty() || replies.refusal.code == 421);
  return Outcome::kRefused;
}

// One try at the message; a refusal is not tried again here (the batch run
// decides that).
MailResult SmtpTransport::Deliver(const std::string& payload, const std::string& recipient,
                                  const std::string& message_id) {
  const std::string commands =
      "MAIL FROM:<" + sender_.address + ">\r\nRCPT TO:<" + recipient + ">\r\nDATA\r\n";
  bool reconnected = false;
  for (;;) {
    if (!curl_) {
      // The connection was lost after an earlier message, the server closed
      // it with a refusal, or it carried its share of messages. A refusal
      // while it opens concerns the session.
      std::string reason;
      SmtpReply refusal;
      if (!Connect(&reason, &refusal)) {
        if (refusal.code == 0) return MailResult::ConnectionLost(reason);
        return MailResult::Refused(MailOutcome::kSessionRefused, reason, refusal.code,
                                   SmtpEnhancedStatus(refusal.text));
      }
      reconnected = true;
    }
    bool replied = false;
    MailResult failure;
    const Outcome outcome = Transact(commands, payload, &failure, &replied);
    // The connection has carried its share: closed now rather than left idle
    // while the run paces, and opened again for the next message.
    if (curl_ && messages_per_connection_ != 0 && transactions_ >= messages_per_connection_) {
      Quit();
    }
    switch (outcome) {
      case Outcome::kSent:
        return MailResult::Done(message_id);
      case Outcome::kConnectionLost:
        // The kept connection had died (the server closed it between
        // messages) and not one reply came back: nothing reached the server,
        // so the message goes again over a new connection, once.
        if (!reconnected && !replied) continue;
        return failure;
      case Outcome::kRefused:
        return failure;
    }
  }
}

MailResult SmtpTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  if (!InitCurlOnce()) return MailResult::Failed(std::string(kCurlNotStartedReason));
  user_name_ = user_name;
  password_ = password;
  std::string failure;
  SmtpReply refusal;
  if (!Connect(&failure, &refusal)) {
    password_.clear();
    return MailResult::Failed(failure);
  }
  signed_on_ = true;
  return MailResult::Done();
}

MailResult SmtpTransport::Send(const OutgoingMessage& message) { return SendAhead(message, {}); }

MailResult SmtpTransport::DeliverAlone(const OutgoingMessage& message) {
  const MessageFields fields = FieldsFor(message, sender_, stamps_);
  return Deliver(SmtpDataPayload(WriteMessage(fields, "\r\n")), fields.to.address,
                 fields.message_id);
}

// With PIPELINING the transactions follow each other without waiting: the
// end of one message and the next one's MAIL, RCPT and DATA leave in one
// write (RFC 2920), so each message costs one round trip; with CHUNKING too,
// whole transactions (MAIL, RCPT, BDAT with the message) go ahead, up to
// kChunkingWindow before their replies are read (RFC 3030). The replies come
// in order and are matched to their transactions that way.
MailResult SmtpTransport::SendAhead(const OutgoingMessage& message,
                                    std::span<const OutgoingMessage* const> ahead) {
  if (!signed_on_) return MailResult::Failed(std::string(kNotSignedOnReason));
  if (!IsPlainAddress(message.recipient_address)) {
    return MailResult::Failed(std::string(kBadAddressReason));
  }
  if (!pipelining_ && flight_.empty()) return DeliverAlone(message);
  queue_.clear();
  if (InFlight(&message) == nullptr) queue_.push_back(&message);
  for (const OutgoingMessage* next : ahead) {
    if (IsPlainAddress(next->recipient_address)) queue_.push_back(next);
  }
  bool reconnected = false;
  bool resent = false;
  for (;;) {
    Transaction* transaction = InFlight(&message);
    if (transaction != nullptr && transaction->done) {
      // A transaction that never reached the server (the kept connection had
      // died, or the server was still busy with a refused one) goes once
      // more; over a connection opened for it, a loss is final.
      if (transaction->again && !resent && !(transaction->lost && reconnected)) {
        resent = true;
        Forget(message);
        queue_.insert(queue_.begin(), &message);
        continue;
      }
      MailResult result = std::move(transaction->result);
      Forget(message);
      queue_.clear();
      // The connection has carried its share: closed now rather than left
      // idle while the run paces, and opened again for the next message.
      if (curl_ && messages_per_connection_ != 0 && transactions_ >= messages_per_connection_ &&
          Unanswered() == 0) {
        Quit();
      }
      return result;
    }
    if (!curl_) {
      std::string reason;
      SmtpReply refusal;
      if (!Connect(&reason, &refusal)) {
        queue_.clear();
        if (refusal.code == 0) return MailResult::ConnectionLost(reason);
        return MailResult::Refused(MailOutcome::kSessionRefused, reason, refusal.code,
                                   SmtpEnhancedStatus(refusal.text));
      }
      reconnected = true;
    }
    if (!pipelining_) {
      // A new connection to a server that no longer pipelines: what was in
      // flight is settled (lost), and this message goes on its own.
      queue_.clear();
      Forget(message);
      return DeliverAlone(message);
    }
    if (transaction == nullptr && !CanBegin() && Unanswered() == 0) {
      Quit();  // the connection has carried its share
      continue;
    }
    std::string out;
    BeginQueued(&out);
    if (!out.empty()) {
      Write(out);
      continue;
    }
    TakeNextReply();
  }
}

SmtpTransport::Transaction* SmtpTransport::InFlight(const OutgoingMessage* message) {
  for (Transaction& transaction : flight_) {
    if (transaction.message == message) return &transaction;
  }
  return nullptr;
}

// Drops the message's transaction, its outcome taken or to be made again.
// Found by its message: a deque's elements are not contiguous, so no
// position can be computed from an element's address.
void SmtpTransport::Forget(const OutgoingMessage& message) {
  std::erase_if(flight_, [&](const Transaction& t) { return t.message == &message; });
}

std::size_t SmtpTransport::Unanswered() const {
  return static_cast<std::size_t>(
      std::count_if(flight_.begin(), flight_.end(), [](const Transaction& t) { return !t.done; }));
}

// Whether one more transaction may begin now: within the connection's share,
// and with DATA only when no transaction is waiting for its 354 (its message
// must go first), with BDAT while fewer than kChunkingWindow wait for their
// replies.
bool SmtpTransport::CanBegin() const {
  if (messages_per_connection_ != 0 && transactions_ >= messages_per_connection_) return false;
  if (chunking_) return Unanswered() < kChunkingWindow;
  return std::none_of(flight_.begin(), flight_.end(),
                      [](const Transaction& t) { return !t.done && !t.payload_sent; });
}

void SmtpTransport::Begin(const OutgoingMessage& message, std::string* out) {
  if (needs_reset_) {
    out->append("RSET\r\n");
    flight_.emplace_back();
    needs_reset_ = false;
  }
  Transaction transaction;
  transaction.message = &message;
  const MessageFields fields = FieldsFor(message, sender_, stamps_);
  transaction.message_id = fields.message_id;
  std::string text = WriteMessage(fields, "\r\n");
  out->append("MAIL FROM:<").append(sender_.address).append(">\r\nRCPT TO:<");
  out->append(fields.to.address).append(">\r\n");
  if (chunking_) {
    transaction.chunked = true;
    transaction.payload_sent = true;
    out->append("BDAT ").append(std::to_string(text.size())).append(" LAST\r\n").append(text);
  } else {
    out->append("DATA\r\n");
    transaction.payload = SmtpDataPayload(text);
  }
  ++transactions_;
  flight_.push_back(std::move(transaction));
}

// Begins the queued messages not in flight yet, in order, as far as there
// is room.
void SmtpTransport::BeginQueued(std::string* out) {
  for (const OutgoingMessage* message : queue_) {
    if (InFlight(message) != nullptr) continue;
    if (!CanBegin()) break;
    Begin(*message, out);
  }
}

void SmtpTransport::Write(const std::string& bytes) {
  std::string error;
  if (!SendAll(bytes, &error)) Lose(error);
}

// Reads the next reply and gives it to the oldest transaction waiting for
// one. A DATA transaction given its 354 sends its message at once, with the
// next transaction's commands behind it in the same write.
void SmtpTransport::TakeNextReply() {
  auto waiting =
      std::find_if(flight_.begin(), flight_.end(), [](const Transaction& t) { return !t.done; });
  Transaction& transaction = *waiting;
  const bool final_reply =
      transaction.payload_sent &&
      (transaction.chunked ? transaction.replies == 2 : transaction.replies == 3);
  SmtpReply reply;
  std::string error;
  if (!ReadReply(&reply, Wait(final_reply ? kDataReplySeconds : kReplySeconds), &error)) {
    return Lose(error);
  }
  CommandReplies& commands = transaction.commands;
  commands.any = true;
  if (transaction.message == nullptr) {
    flight_.erase(waiting);  // RSET: whatever it says, the next MAIL tells
    return;
  }
  const int index = transaction.replies++;
  if (index == 3) {  // the end of the data
    transaction.done = true;
    transaction.result =
        reply.code / 100 == 2 ? MailResult::Done(transaction.message_id) : Refusal(reply, false);
    if (reply.code == 421) Lose(reply.text);
    return;
  }
  const bool ok = index < 2 || transaction.chunked ? reply.code / 100 == 2 : reply.code == 354;
  if (index == 2 && !transaction.chunked && ok) commands.data_accepted = true;
  if (index == 0 && reply.code == 503 && transaction.chunked) {
    // Out of step: the server still held the transaction refused before.
    transaction.again = true;
  }
  if (!ok && commands.refusal.code == 0) {
    commands.refusal = reply;
    commands.sender_refused = index == 0;
  }
  if (index < 2) return;
  if (commands.refusal.code != 0) {
    transaction.done = true;
    transaction.result = Refusal(commands.refusal, commands.sender_refused);
    if (commands.refusal.code == 421) return Lose(commands.refusal.text);
    if (transaction.chunked) {
      needs_reset_ = true;
    } else {
      // Nothing else is in flight behind a DATA transaction waiting for its 354.
      EndRefusedTransaction(commands.data_accepted, false);
    }
    return;
  }
  if (transaction.chunked) {
    transaction.done = true;
    transaction.result = MailResult::Done(transaction.message_id);
    return;
  }
  std::string out = std::move(transaction.payload);
  transaction.payload = std::string();
  transaction.payload_sent = true;
  BeginQueued(&out);
  Write(out);
}

// The connection is gone: every transaction still waiting has its outcome,
// a refusal that came or the loss; one to which no reply came may go again.
void SmtpTransport::Lose(const std::string& reason) {
  for (Transaction& transaction : flight_) {
    if (transaction.done) continue;
    transaction.done = true;
    transaction.lost = true;
    const CommandReplies& commands = transaction.commands;
    if (commands.refusal.code != 0) {
      transaction.result = Refusal(commands.refusal, commands.sender_refused);
    } else {
      transaction.result = MailResult::ConnectionLost(reason);
      transaction.again = !commands.any;
    }
  }
  // An RSET has no outcome to hand to anyone.
  std::erase_if(flight_, [](const Transaction& t) { return t.message == nullptr; });
  Disconnect();
}

std::vector<std::pair<const OutgoingMessage*, MailResult>> SmtpTransport::Settle() {
  queue_.clear();
  for (;;) {
    auto waiting =
        std::find_if(flight_.begin(), flight_.end(), [](const Transaction& t) { return !t.done; });
    // An RSET's reply is read too: the transactions behind it may have gone.
    const bool goes =
        waiting != flight_.end() && (waiting->payload_sent || waiting->message == nullptr);
    if (!goes || !curl_) break;
    TakeNextReply();
  }
  std::vector<std::pair<const OutgoingMessage*, MailResult>> outcomes;
  for (Transaction& transaction : flight_) {
    if (transaction.message != nullptr && transaction.payload_sent && transaction.done) {
      outcomes.emplace_back(transaction.message, std::move(transaction.result));
    }
  }
  // A DATA transaction whose message has not gone goes with the connection.
  if (Unanswered() > 0) Lose("送信を中断しました");
  flight_.clear();
  return outcomes;
}

void SmtpTransport::SignOff() {
  Quit();
  flight_.clear();
  signed_on_ = false;
  password_.clear();
}

}  // namespace

std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view user_name,
                              std::string_view password) {
  std::string_view reason = "原因不明の SMTP エラー";
  if (reply_code >= 400 && !reply.empty()) {
    reason = reply;
  } else if (!library_error.empty()) {
    reason = library_error;
  }
  // Masked before the text is made printable, which could break a password
  // apart, and after, which could join one together.
  return MaskCredentials(PrintableText(MaskCredentials(reason, user_name, password)), user_name,
                         password);
}

std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender,
                                                 std::size_t messages_per_connection,
                                                 const MessageStamps& stamps) {
  return std::make_unique<SmtpTransport>(endpoint, sender, messages_per_connection, stamps);
}

}  // namespace pinemail
