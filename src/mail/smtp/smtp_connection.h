// One connection to an SMTP server: libcurl connects, starts TLS, greets and
// authenticates, then hands the connection over (CONNECT_ONLY); bytes go out
// and whole replies come back, each within a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/net/curl_session.h"
#include "mail/smtp/smtp_endpoint.h"
#include "mail/smtp/smtp_reply.h"
#include "mail/transport_config.h"

namespace pinemail {

// Why no connection could even be tried.
inline constexpr std::string_view kCurlNotStartedReason = "libcurl を開始できませんでした";

class SmtpConnection {
 public:
  // A connection to `endpoint`, trusting and waiting as `tuning` says.
  SmtpConnection(SmtpEndpoint endpoint, TransportTuning tuning);
  SmtpConnection(const SmtpConnection&) = delete;
  SmtpConnection& operator=(const SmtpConnection&) = delete;

  // Connects and signs on with the credentials (none when `user_name` is
  // empty; with xoauth2 the password is the access token). Plain text only
  // to this machine itself; anywhere else STARTTLS must work. False, with
  // `failure` saying why (a protocol error, the server's refusal, which is
  // in `refusal` too, or libcurl's error; credentials masked), when the
  // session could not be opened or the server took no credentials.
  bool Open(const std::string& user_name, const std::string& password, std::string* failure,
            SmtpReply* refusal);
  // Drops the connection, if any.
  void Close();
  bool is_open() const { return curl_ != nullptr; }
  // What the server offered in its last EHLO reply.
  bool offers_pipelining() const { return pipelining_; }
  bool offers_chunking() const { return chunking_; }
  // The largest message it takes, in bytes; 0: it named none.
  std::uint64_t size_limit() const { return size_limit_; }

  // Writes all of `bytes`, within a minute. False with `error` when the
  // connection failed or the server took too long to read.
  bool Write(std::string_view bytes, std::string* error);
  // Reads until one whole reply is there, for `wait` at most (shortened
  // under test), however the bytes trickle in; bytes of later replies wait
  // for the next call. False with `error` when none came in time, the
  // connection ended, or the reply broke the limits (kSmtpLineLimit,
  // kSmtpReplyLimit).
  bool ReadReply(std::chrono::seconds wait, SmtpReply* reply, std::string* error);

  // While libcurl opens the session: the replies it reads, and whether the
  // session may stay in plain text.
  struct Watch {
    SmtpReplyTracker* replies = nullptr;
    bool loopback_only = false;
  };

 private:
  std::chrono::milliseconds Scaled(std::chrono::seconds wait) const;
  void SetSessionOptions(const std::string& user_name, const std::string& password);
  bool Perform(const std::string& user_name, const std::string& password, std::string* failure,
               SmtpReply* refusal);

  SmtpEndpoint endpoint_;
  TransportTuning tuning_;
  CurlHandle curl_;
  curl_socket_t socket_ = CURL_SOCKET_BAD;
  char error_[CURL_ERROR_SIZE] = {};
  SmtpReplyTracker replies_;
  Watch watch_;
  bool pipelining_ = false;
  bool chunking_ = false;
  std::uint64_t size_limit_ = 0;
};

}  // namespace pinemail
