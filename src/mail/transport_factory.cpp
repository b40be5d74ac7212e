// Chooses the mail transport from the settings: the outbox and SMTP on every
// platform, the others from the platform's part.
#include "mail/transport_factory.h"

#include <memory>
#include <utility>

#include "config/product.h"
#include "config/startup.h"
#include "mail/local/outbox_transport.h"
#include "mail/net/waits.h"
#include "mail/signon/oauth.h"
#include "mail/signon/secret_fetching_transport.h"
#include "mail/signon/sign_on_settings.h"
#include "mail/smtp/smtp_transport.h"
#include "text/utf8.h"

namespace pinemail {

namespace {

std::unique_ptr<MailTransport> MakeInnerTransport(const TransportConfig& config, bool xoauth2,
                                                  const std::string& app_folder,
                                                  const MessageStamps& stamps,
                                                  const TransportTuning& tuning,
                                                  std::string* reason) {
  switch (config.kind) {
    case TransportKind::kOutbox:
      return std::make_unique<OutboxTransport>(ResolvePath(config.target, app_folder),
                                               config.sender, stamps);
    case TransportKind::kSmtp:
    case TransportKind::kSmtps: {
      SmtpEndpoint endpoint;
      const char* scheme = config.kind == TransportKind::kSmtps ? "smtps://" : "smtp://";
      if (!ParseSmtpServer(scheme + config.target, &endpoint, reason)) return nullptr;
      endpoint.xoauth2 = xoauth2;
      return MakeSmtpTransport(endpoint, config.sender, config.messages_per_connection, stamps,
                               tuning);
    }
    case TransportKind::kMapi:
    case TransportKind::kSendmail:
      break;
  }
  return MakePlatformTransport(config, app_folder, stamps, reason);
}

}  // namespace

std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder,
                                             const MessageStamps& stamps,
                                             const TransportTuning& tuning, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  TransportConfig config;
  SignOnSettings sign_on;
  if (!ReadTransportConfig(settings, PlatformDefaultTransport(), &config, reason) ||
      !ReadSignOnSettings(settings, &sign_on, reason)) {
    return nullptr;
  }
  if (sign_on.oauth2 && config.kind != TransportKind::kSmtp &&
      config.kind != TransportKind::kSmtps) {
    *reason = "Auth=oauth2 は Mail Server が smtp:// か smtps:// のときだけ使えます";
    return nullptr;
  }
  if (sign_on.oauth2 && TrimBlanks(settings.user_name).empty()) {
    *reason = "Auth=oauth2 には User Name (メールアドレス) が必要です";
    return nullptr;
  }
  std::unique_ptr<MailTransport> transport =
      MakeInnerTransport(config, sign_on.oauth2, app_folder, stamps, tuning, reason);
  if (!transport || (!sign_on.oauth2 && sign_on.password_command.empty())) return transport;
  sign_on.command_time_limit = ScaledWait(sign_on.command_time_limit, tuning.wait_scale);
  return MakeSecretFetchingTransport(std::move(transport), std::move(sign_on),
                                     app_folder + std::string(kSettingsFileName),
                                     HttpsOAuthPoster(tuning.ca_file));
}

}  // namespace pinemail
