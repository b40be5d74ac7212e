// Makes the transport the settings name: the outbox and SMTP here, the
// platform's own (sendmail, Simple MAPI) in transport_factory_<platform>.cpp.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "mail/message/message_stamps.h"
#include "mail/transport.h"
#include "mail/transport_config.h"

namespace pinemail {

// Creates the transport the settings name ("Mail Server"; empty means the
// platform's default); the transports that write messages date them by
// `stamps`, and their waits and the certificates they trust are as `tuning`
// says. Returns null when the value names nothing this build serves;
// `reason` says why.
std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder,
                                             const MessageStamps& stamps,
                                             const TransportTuning& tuning, std::string* reason);

// The platform's part of MakeTransport (transport_factory_<platform>.cpp):
// the kind an empty "Mail Server" means, and the transports only this
// platform serves (sendmail, mapi; the outbox and SMTP are everyone's).
// MakePlatformTransport returns null, with `reason` set, for a kind this
// platform does not serve or a target it cannot use.
TransportKind PlatformDefaultTransport();
std::unique_ptr<MailTransport> MakePlatformTransport(const TransportConfig& config,
                                                     const std::string& app_folder,
                                                     const MessageStamps& stamps,
                                                     std::string* reason);

// Why MakePlatformTransport refuses a kind.
inline constexpr std::string_view kNotServedHereReason = "この送信方法はこの環境では使えません";

}  // namespace pinemail
