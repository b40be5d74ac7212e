// Chooses the Windows build's mail transport from the settings.
#include <memory>

#include "config/startup.h"
#include "mail/mapi_transport_win32.h"
#include "mail/outbox_transport.h"
#include "mail/transport.h"
#include "mail/transport_config.h"

namespace pinemail {

std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  TransportConfig config;
  if (!ReadTransportConfig(settings, TransportKind::kMapi, &config, reason)) return nullptr;
  switch (config.kind) {
    case TransportKind::kOutbox:
      return std::make_unique<OutboxTransport>(ResolvePath(config.target, app_folder),
                                               config.sender);
    case TransportKind::kMapi:
      return std::make_unique<MapiTransport>();
    case TransportKind::kSendmail:
    case TransportKind::kSmtp:
    case TransportKind::kSmtps:
      break;
  }
  *reason = "この送信方法はこの環境では使えません";
  return nullptr;
}

}  // namespace pinemail
