// Reads the "Mail Server" and "From" settings into the choice of transport and
// its sender, shared by the platforms' transport factories.
#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"
#include "mail/message/mailbox.h"

namespace pinemail {

enum class TransportKind {
  kMapi,      // "mapi": the system's Simple MAPI client
  kSendmail,  // "sendmail" or "sendmail:/path/to/program"
  kSmtp,      // "smtp://host[:port]"
  kSmtps,     // "smtps://host[:port]"
  kOutbox,    // "outbox:FOLDER"
};

struct TransportConfig {
  TransportKind kind = TransportKind::kMapi;
  // outbox: the folder as written; sendmail: the program (empty: the
  // system's); smtp, smtps: "host[:port]".
  std::string target;
  // The sender; set for every kind that writes its own message.
  Mailbox sender;
  // SMTP: messages per connection ("Messages Per Connection"); 0: no limit.
  std::size_t messages_per_connection = 0;
};

// What the start of a run reads from its environment for the transports,
// for tests and measurements; the defaults are a user's run.
struct TransportTuning {
  // Shortens the waits for servers and commands (ScaledWait); 1: the real
  // waits.
  double wait_scale = 1;
  // A CA bundle trusted in place of the system's certificate store by every
  // TLS connection (SMTP and the OAuth requests); empty: the system's.
  std::string ca_file;
  // The only DNS server the deliverability check asks, "IPv4[:port]"
  // (SystemTxtLookup); empty: the system's.
  std::string dns_server;
};

// True for the kinds that build the message themselves and so need a sender.
bool NeedsSender(TransportKind kind);

// Reads the settings. An empty "Mail Server" means `platform_default`. False,
// with a short reason, when the value names no transport, lacks its target,
// the transport needs a sender and neither "From" nor "User Name" gives
// one, or "Messages Per Connection" is neither empty nor a positive whole
// number (blanks around it allowed).
bool ReadTransportConfig(const Settings& settings, TransportKind platform_default,
                         TransportConfig* out, std::string* reason);

}  // namespace pinemail
