// Fetches the secret at sign-on and keeps it out of every reason.
#include "mail/sign_on_transport.h"

#include <utility>
#include <vector>

#include "mail/credential_mask.h"

namespace pinemail {
namespace {

class SignOnTransport final : public MailTransport {
 public:
  SignOnTransport(std::unique_ptr<MailTransport> inner, SignOnSettings settings,
                  std::string settings_path, OAuthPoster post)
      : inner_(std::move(inner)),
        settings_(std::move(settings)),
        settings_path_(std::move(settings_path)),
        post_(std::move(post)) {}

  MailResult SignOn(const std::string& user_name, const std::string& /*password*/) override {
    user_name_ = user_name;
    std::string secret;
    std::string reason;
    if (!FetchSecret(&secret, &reason)) return Clean(MailResult::Failed(reason));
    secrets_.push_back(secret);
    return Clean(inner_->SignOn(user_name, secret));
  }

  MailResult Send(const OutgoingMessage& message) override { return Clean(inner_->Send(message)); }

  void SignOff() override {
    inner_->SignOff();
    secrets_.clear();
  }

 private:
  bool FetchSecret(std::string* secret, std::string* reason) {
    if (!settings_.password_command.empty()) {
      return RunPasswordCommand(settings_.password_command, secret, reason);
    }
    if (settings_.refresh_token.empty()) {
      *reason = "OAuth Refresh Token がありません。pinemail /signin でサインインしてください";
      return false;
    }
    std::string refresh_token;
    if (!UnsealToken(settings_.refresh_token, &refresh_token, reason)) return false;
    secrets_ = {refresh_token, settings_.client_secret};
    std::string rotated;
    if (!RefreshAccessToken(settings_, refresh_token, post_, secret, &rotated, reason)) {
      return false;
    }
    if (rotated.empty()) return true;
    secrets_.push_back(rotated);
    return StoreRefreshToken(settings_path_, rotated, reason);
  }

  MailResult Clean(MailResult result) const {
    for (const std::string& secret : secrets_) {
      result.reason = MaskCredentials(result.reason, user_name_, secret);
    }
    return result;
  }

  std::unique_ptr<MailTransport> inner_;
  SignOnSettings settings_;
  std::string settings_path_;
  OAuthPoster post_;
  std::string user_name_;
  std::vector<std::string> secrets_;  // every secret of this session, for the masks
};

}  // namespace

std::unique_ptr<MailTransport> MakeSignOnTransport(std::unique_ptr<MailTransport> inner,
                                                   SignOnSettings settings,
                                                   std::string settings_path, OAuthPoster post) {
  return std::make_unique<SignOnTransport>(std::move(inner), std::move(settings),
                                           std::move(settings_path), std::move(post));
}

}  // namespace pinemail
