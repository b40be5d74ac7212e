// Parsing of the "Mail Server" value and the choice of sender.
#include "mail/transport_config.h"

#include <array>
#include <cstdint>

#include "mail/message/mailbox.h"
#include "text/ascii.h"
#include "text/count.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// One row per way of writing a transport. `exact` rows match the whole
// value; the others are a prefix followed by the target.
struct ServerForm {
  std::string_view prefix;  // lower case
  bool exact;
  bool needs_target;
  TransportKind kind;
};

constexpr std::array<ServerForm, 6> kServerForms = {{
    {"mapi", true, false, TransportKind::kMapi},
    {"sendmail", true, false, TransportKind::kSendmail},
    {"sendmail:", false, true, TransportKind::kSendmail},
    {"smtp://", false, true, TransportKind::kSmtp},
    {"smtps://", false, true, TransportKind::kSmtps},
    {"outbox:", false, true, TransportKind::kOutbox},
}};

bool ParseMailServer(std::string_view value, TransportKind platform_default, TransportConfig* out,
                     std::string* reason) {
  if (value.empty()) {
    out->kind = platform_default;
    out->target.clear();
    return true;
  }
  for (const ServerForm& form : kServerForms) {
    bool matches = form.exact
                       ? value.size() == form.prefix.size() && StartsWithNoCase(value, form.prefix)
                       : StartsWithNoCase(value, form.prefix);
    if (!matches) continue;
    std::string_view target = TrimBlanks(value.substr(form.prefix.size()));
    if (form.needs_target && target.empty()) {
      *reason = "Mail Server の値に宛先がありません";
      return false;
    }
    out->kind = form.kind;
    out->target = std::string(target);
    return true;
  }
  // The value is not repeated: a mistyped URL may carry a password.
  *reason = "Mail Server の値が認識できません";
  return false;
}

bool ChooseSender(const Settings& settings, Mailbox* sender, std::string* reason) {
  std::string_view from = TrimBlanks(settings.from);
  if (!from.empty()) {
    if (ParseMailbox(from, sender)) return true;
    *reason = "From の値に送信者のアドレスがありません: " + std::string(from);
    return false;
  }
  std::string_view user_name = TrimBlanks(settings.user_name);
  if (std::string address; WireAddress(user_name, &address)) {
    *sender = Mailbox{"", std::move(address)};
    return true;
  }
  *reason = "送信者のアドレスがありません (From も User Name もアドレスではありません)";
  return false;
}

// An empty value means no limit.
bool ParseMessagesPerConnection(std::string_view value, std::size_t* out, std::string* reason) {
  value = TrimBlanks(value);
  if (value.empty()) {
    *out = 0;
    return true;
  }
  std::uint32_t count = 0;
  if (!ParseCount(value, &count)) {
    *reason = "Messages Per Connection の値は 1 以上の整数で書いてください: " + std::string(value);
    return false;
  }
  *out = count;
  return true;
}

}  // namespace

bool NeedsSender(TransportKind kind) { return kind != TransportKind::kMapi; }

bool ReadTransportConfig(const Settings& settings, TransportKind platform_default,
                         TransportConfig* out, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  TransportConfig config;
  if (!ParseMailServer(TrimBlanks(settings.mail_server), platform_default, &config, reason)) {
    return false;
  }
  if (NeedsSender(config.kind) && !ChooseSender(settings, &config.sender, reason)) return false;
  if (!ParseMessagesPerConnection(settings.messages_per_connection, &config.messages_per_connection,
                                  reason)) {
    return false;
  }
  *out = std::move(config);
  return true;
}

}  // namespace pinemail
