// Chooses the POSIX build's mail transport from the settings.
#include <memory>

#include "config/startup.h"
#include "mail/outbox_transport.h"
#include "mail/sendmail_transport_posix.h"
#include "mail/smtp_transport.h"
#include "mail/transport.h"
#include "mail/transport_config.h"

namespace pinemail {

std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  TransportConfig config;
  if (!ReadTransportConfig(settings, TransportKind::kSendmail, &config, reason)) return nullptr;
  switch (config.kind) {
    case TransportKind::kOutbox:
      return std::make_unique<OutboxTransport>(ResolvePath(config.target, app_folder),
                                               config.sender);
    case TransportKind::kSendmail:
      return MakeSendmailTransport(
          config.target.empty() ? std::string() : ResolvePath(config.target, app_folder),
          config.sender);
    case TransportKind::kSmtp:
    case TransportKind::kSmtps: {
      SmtpEndpoint endpoint;
      const char* scheme = config.kind == TransportKind::kSmtps ? "smtps://" : "smtp://";
      if (!ParseSmtpServer(scheme + config.target, &endpoint, reason)) return nullptr;
      return MakeSmtpTransport(endpoint, config.sender);
    }
    case TransportKind::kMapi:
      break;
  }
  *reason = "この送信方法はこの環境では使えません";
  return nullptr;
}

}  // namespace pinemail
