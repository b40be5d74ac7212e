// Fetches the secret at sign-on (and a new access token before the old one
// runs out) and keeps every secret out of every reason.
#include "mail/signon/secret_fetching_transport.h"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "mail/signon/password_command.h"
#include "mail/signon/token_store.h"
#include "text/credential_mask.h"

namespace pinemail {
namespace {

// How long before its end an access token is replaced.
constexpr std::chrono::minutes kTokenMargin{5};

class SecretFetchingTransport final : public MailTransport {
 public:
  SecretFetchingTransport(std::unique_ptr<MailTransport> inner, SignOnSettings settings,
                          std::string settings_path, OAuthPoster post, SteadyNow now)
      : inner_(std::move(inner)),
        settings_(std::move(settings)),
        settings_path_(std::move(settings_path)),
        post_(std::move(post)),
        now_(std::move(now)) {}

  MailResult SignOn(const std::string& user_name, const std::string& /*password*/) override {
    user_name_ = user_name;
    std::string secret;
    std::string reason;
    if (!FetchSecret(&secret, &reason)) return Clean(MailResult::Failed(reason));
    return Clean(inner_->SignOn(user_name, secret));
  }

  MailResult Send(const OutgoingMessage& message) override { return SendAhead(message, {}); }

  // The token is replaced only while no message is handed over ahead (the
  // new sign-on is a new connection): when it is due, nothing more goes
  // ahead until the messages handed over before have been sent.
  MailResult SendAhead(const OutgoingMessage& message,
                       std::span<const OutgoingMessage* const> ahead) override {
    const bool none_handed_over = handed_over_.empty();  // this message included
    std::erase(handed_over_, &message);
    if (expires_ && now_() >= *expires_ - kTokenMargin) {
      if (none_handed_over) {
        inner_->SignOff();
        const MailResult again = SignOn(user_name_, {});
        if (!again.ok()) return MailResult::ConnectionLost(again.reason);
      } else {
        ahead = {};
      }
    }
    for (const OutgoingMessage* next : ahead) {
      if (std::find(handed_over_.begin(), handed_over_.end(), next) == handed_over_.end()) {
        handed_over_.push_back(next);
      }
    }
    return Clean(inner_->SendAhead(message, ahead));
  }

  std::vector<std::pair<const OutgoingMessage*, MailResult>> Settle() override {
    handed_over_.clear();
    std::vector<std::pair<const OutgoingMessage*, MailResult>> settled = inner_->Settle();
    for (auto& [message, result] : settled) result = Clean(std::move(result));
    return settled;
  }

  MailResult Check(const OutgoingMessage& message) override { return inner_->Check(message); }

  void SignOff() override {
    inner_->SignOff();
    expires_.reset();
  }

 private:
  bool FetchSecret(std::string* secret, std::string* reason) {
    if (!settings_.password_command.empty()) {
      if (!RunPasswordCommand(settings_.password_command, settings_.command_time_limit, secret,
                              reason)) {
        return false;
      }
      secrets_.push_back(*secret);
      return true;
    }
    if (refresh_token_.empty()) {
      if (settings_.refresh_token.empty()) {
        *reason = "OAuth Refresh Token がありません。pinemail /signin でサインインしてください";
        return false;
      }
      if (!UnsealToken(settings_.refresh_token, &refresh_token_, reason)) return false;
      secrets_.push_back(refresh_token_);
      secrets_.push_back(settings_.client_secret);
    }
    AccessToken access;
    std::string rotated;
    const auto asked = now_();
    if (!RefreshAccessToken(settings_, refresh_token_, post_, &access, &rotated, reason)) {
      return false;
    }
    secrets_.push_back(access.token);
    expires_ = asked + access.lifetime;
    *secret = access.token;
    if (rotated.empty()) return true;
    secrets_.push_back(rotated);
    refresh_token_ = rotated;
    return StoreRefreshToken(settings_path_, rotated, reason);
  }

  MailResult Clean(MailResult result) const {
    result.reason = MaskSecrets(result.reason, user_name_, secrets_);
    return result;
  }

  std::unique_ptr<MailTransport> inner_;
  SignOnSettings settings_;
  std::string settings_path_;
  OAuthPoster post_;
  SteadyNow now_;
  std::string user_name_;
  std::string refresh_token_;         // oauth2: unsealed, the latest of this run
  std::vector<std::string> secrets_;  // every secret of this run, for the masks
  std::optional<std::chrono::steady_clock::time_point> expires_;  // oauth2: the token's end
  std::vector<const OutgoingMessage*> handed_over_;               // may be with the server already
};

}  // namespace

std::unique_ptr<MailTransport> MakeSecretFetchingTransport(std::unique_ptr<MailTransport> inner,
                                                           SignOnSettings settings,
                                                           std::string settings_path,
                                                           OAuthPoster post, SteadyNow now) {
  return std::make_unique<SecretFetchingTransport>(std::move(inner), std::move(settings),
                                                   std::move(settings_path), std::move(post),
                                                   std::move(now));
}

}  // namespace pinemail
