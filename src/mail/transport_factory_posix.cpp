// The POSIX build's transports: sendmail (the default) and SMTP.
#include <memory>

#include "config/startup.h"
#include "mail/sendmail_transport_posix.h"
#include "mail/smtp_transport.h"
#include "mail/transport_config.h"

namespace pinemail {

TransportKind PlatformDefaultTransport() { return TransportKind::kSendmail; }

std::unique_ptr<MailTransport> MakePlatformTransport(const TransportConfig& config,
                                                     const std::string& app_folder,
                                                     std::string* reason) {
  switch (config.kind) {
    case TransportKind::kSendmail:
      return MakeSendmailTransport(
          config.target.empty() ? std::string() : ResolvePath(config.target, app_folder),
          config.sender);
    case TransportKind::kSmtp:
    case TransportKind::kSmtps: {
      SmtpEndpoint endpoint;
      const char* scheme = config.kind == TransportKind::kSmtps ? "smtps://" : "smtp://";
      if (!ParseSmtpServer(scheme + config.target, &endpoint, reason)) return nullptr;
      return MakeSmtpTransport(endpoint, config.sender, config.messages_per_connection);
    }
    case TransportKind::kMapi:
    case TransportKind::kOutbox:
      break;
  }
  *reason = kNotServedHereReason;
  return nullptr;
}

}  // namespace pinemail
