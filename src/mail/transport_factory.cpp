// Chooses the mail transport from the settings: the outbox and SMTP on every
// platform, the others from the platform's part.
#include <memory>

#include "config/startup.h"
#include "mail/outbox_transport.h"
#include "mail/smtp_transport.h"
#include "mail/transport.h"
#include "mail/transport_config.h"

namespace pinemail {

std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  TransportConfig config;
  if (!ReadTransportConfig(settings, PlatformDefaultTransport(), &config, reason)) return nullptr;
  switch (config.kind) {
    case TransportKind::kOutbox:
      return std::make_unique<OutboxTransport>(ResolvePath(config.target, app_folder),
                                               config.sender);
    case TransportKind::kSmtp:
    case TransportKind::kSmtps: {
      SmtpEndpoint endpoint;
      const char* scheme = config.kind == TransportKind::kSmtps ? "smtps://" : "smtp://";
      if (!ParseSmtpServer(scheme + config.target, &endpoint, reason)) return nullptr;
      return MakeSmtpTransport(endpoint, config.sender, config.messages_per_connection);
    }
    case TransportKind::kMapi:
    case TransportKind::kSendmail:
      break;
  }
  return MakePlatformTransport(config, app_folder, reason);
}

}  // namespace pinemail
