// The POSIX build's own transport: sendmail (the default).
#include <memory>

#include "config/startup.h"
#include "mail/local/sendmail_transport_posix.h"
#include "mail/transport_factory.h"

namespace pinemail {

TransportKind PlatformDefaultTransport() { return TransportKind::kSendmail; }

std::unique_ptr<MailTransport> MakePlatformTransport(const TransportConfig& config,
                                                     const std::string& app_folder,
                                                     const MessageStamps& stamps,
                                                     std::string* reason) {
  if (config.kind == TransportKind::kSendmail) {
    return MakeSendmailTransport(
        config.target.empty() ? std::string() : ResolvePath(config.target, app_folder),
        config.sender, stamps);
  }
  *reason = kNotServedHereReason;
  return nullptr;
}

}  // namespace pinemail
