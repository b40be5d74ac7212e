// The Windows build's own transport: Simple MAPI (the default).
#include <memory>

#include "mail/local/mapi_transport_win32.h"
#include "mail/transport_factory.h"

namespace pinemail {

TransportKind PlatformDefaultTransport() { return TransportKind::kMapi; }

std::unique_ptr<MailTransport> MakePlatformTransport(const TransportConfig& config,
                                                     const std::string& /*app_folder*/,
                                                     const MessageStamps& /*stamps*/,
                                                     std::string* reason) {
  if (config.kind == TransportKind::kMapi) return std::make_unique<MapiTransport>();
  *reason = kNotServedHereReason;
  return nullptr;
}

}  // namespace pinemail
