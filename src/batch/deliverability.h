// The deliverability check before a run: what receivers will think of the
// sender's domain (its SPF and DMARC records in DNS, against the server the
// messages leave through) and of the recipients at mobile carriers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mail/net/dns_txt.h"

namespace pinemail {

struct DeliverabilityFinding {
  enum class Kind {
    kWarning,  // worth a look; the run can go as it is
    kError,    // receivers will refuse the messages as the settings stand
    kAdvice,   // something the recipients must do
  };
  Kind kind = Kind::kWarning;
  std::string text;  // plain Japanese, one line
};

// One message of the run as the check sees it.
struct DeliverabilityRecipient {
  std::string address;           // the recipient's address (or only its domain)
  std::size_t message_size = 0;  // the message's bytes as sent; 0: not known
};

struct DeliverabilityInput {
  std::string from_address;  // the sender's addr-spec ("taro@example.jp")
  // The SMTP server's host name (a "host[:port]" is taken too); empty when
  // the messages leave through MAPI, sendmail or the outbox.
  std::string smtp_host;
  std::vector<DeliverabilityRecipient> recipients;
};

// Runs every check: SPF and DMARC of the From domain (looked up through
// `dns`), the DMARC policy against the SMTP server's domain, the carrier
// domains among the recipients and large messages to them. The findings in
// that order; none when all is well. Never fails: a lookup without answer
// is a warning.
std::vector<DeliverabilityFinding> CheckDeliverability(const DeliverabilityInput& input,
                                                       TxtLookup& dns);

}  // namespace pinemail
