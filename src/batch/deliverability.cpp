// The deliverability check: DNS records of the sender's domain, the server
// the messages leave through, and the recipients at mobile carriers.
#include "batch/deliverability.h"

#include <algorithm>
#include <array>

#include "text/ascii.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

using Kind = DeliverabilityFinding::Kind;

// A larger message to a carrier address may be refused or cut short.
constexpr std::size_t kCarrierSizeLimit = 1000 * 1000;

// The mobile carriers' mail domains; their subdomains count too.
constexpr std::array<std::string_view, 5> kCarrierDomains = {
    "docomo.ne.jp", "ezweb.ne.jp", "au.com", "softbank.ne.jp", "i.softbank.jp"};

// Second-level labels under which a country's domains are registered
// ("example.co.jp", "example.co.uk"), so that the registrable domain has
// three labels.
constexpr std::array<std::string_view, 14> kSecondLevels = {
    "ac", "ad", "co", "com", "ed", "edu", "go", "gov", "gr", "lg", "ne", "net", "or", "org"};

// A big provider: the domains of its servers, the mail domains it owns, and
// the name other domains include in their SPF record to send through it.
struct Provider {
  std::vector<std::string_view> server_domains;
  std::vector<std::string_view> mail_domains;
  std::string_view spf_include;
};

const std::vector<Provider> kProviders = {
    {{"gmail.com", "google.com", "googlemail.com"},
     {"gmail.com", "googlemail.com"},
     "_spf.google.com"},
    {{"outlook.com", "office365.com", "hotmail.com", "live.com"},
     {"outlook.com", "outlook.jp", "hotmail.com", "hotmail.co.jp", "live.com", "live.jp",
      "msn.com"},
     "spf.protection.outlook.com"},
    {{"me.com", "icloud.com"}, {"icloud.com", "me.com", "mac.com"}, "icloud.com"},
};

// The domain of an address, or the text itself when it holds no "@";
// lower case, without a trailing dot.
std::string DomainOf(std::string_view address) {
  const std::size_t at = address.rfind('@');
  std::string domain =
      AsciiLowerCase(at == std::string_view::npos ? address : address.substr(at + 1));
  while (!domain.empty() && domain.back() == '.') domain.pop_back();
  return domain;
}

// The domain of the sender's address; empty when it has none.
std::string SenderDomain(std::string_view address) {
  return address.find('@') == std::string_view::npos ? std::string() : DomainOf(address);
}

// The host of "host[:port]".
std::string HostOf(std::string_view server) {
  const std::size_t colon = server.find(':');
  return DomainOf(server.substr(0, colon));
}

// The part of `domain` that was registered: its last two labels, or three
// under a country's second level ("mail.example.co.jp" -> "example.co.jp").
std::string RegistrableDomain(std::string_view domain) {
  std::size_t labels = 2;
  const std::size_t last = domain.rfind('.');
  if (last != std::string_view::npos && domain.size() - last == 3) {
    const std::size_t second = domain.rfind('.', last - 1);
    const std::string_view level = domain.substr(second + 1, last - second - 1);
    if (std::find(kSecondLevels.begin(), kSecondLevels.end(), level) != kSecondLevels.end()) {
      labels = 3;
    }
  }
  std::size_t start = domain.size();
  for (std::size_t i = 0; i < labels && start != std::string_view::npos && start > 0; ++i) {
    start = domain.rfind('.', start - 1);
  }
  return std::string(start == std::string_view::npos ? domain : domain.substr(start + 1));
}

bool IsSubdomainOrSelf(std::string_view domain, std::string_view parent) {
  return domain == parent || (domain.size() > parent.size() && domain.ends_with(parent) &&
                              domain[domain.size() - parent.size() - 1] == '.');
}

bool Contains(const std::vector<std::string_view>& list, std::string_view item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The first record that starts with `tag` ("v=spf1"), case aside, followed
// by the end, a blank or ";"; empty when none does.
std::string FindRecord(const TxtAnswer& answer, std::string_view tag) {
  for (const std::string& record : answer.records) {
    if (!StartsWithNoCase(record, tag)) continue;
    if (record.size() == tag.size() || record[tag.size()] == ' ' || record[tag.size()] == ';') {
      return record;
    }
  }
  return {};
}

// The value of a DMARC record's tag ("p"), in lower case; empty when absent.
std::string DmarcTag(std::string_view record, std::string_view name) {
  while (!record.empty()) {
    const std::size_t end = std::min(record.find(';'), record.size());
    const std::string_view pair = record.substr(0, end);
    record.remove_prefix(std::min(end + 1, record.size()));
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos &&
        EqualsNoCase(TrimBlanks(pair.substr(0, equals)), name)) {
      return AsciiLowerCase(TrimBlanks(pair.substr(equals + 1)));
    }
  }
  return {};
}

// True when an SPF record's "include:" or "redirect=" term names `domain`.
bool SpfNames(std::string_view spf, std::string_view domain) {
  while (!spf.empty()) {
    const std::size_t end = std::min(spf.find(' '), spf.size());
    const std::string_view term = spf.substr(0, end);
    spf.remove_prefix(std::min(end + 1, spf.size()));
    for (std::string_view name : {"include:", "+include:", "redirect="}) {
      if (StartsWithNoCase(term, name) && EqualsNoCase(term.substr(name.size()), domain)) {
        return true;
      }
    }
  }
  return false;
}

// True when the server `host` may send for `from_domain`: the same
// registrable domain, or a big provider's server for one of its own mail
// domains or for a domain whose SPF record includes the provider.
bool ServerSendsFor(std::string_view host, std::string_view from_domain, std::string_view spf) {
  const std::string server = RegistrableDomain(host);
  const std::string sender = RegistrableDomain(from_domain);
  if (server == sender) return true;
  for (const Provider& provider : kProviders) {
    if (!Contains(provider.server_domains, server)) continue;
    if (Contains(provider.mail_domains, sender)) return true;
    if (SpfNames(spf, provider.spf_include)) return true;
  }
  return false;
}

class Checker {
 public:
  Checker(const DeliverabilityInput& input, TxtLookup& dns)
      : input_(input), dns_(dns), from_domain_(SenderDomain(input.from_address)) {}

  std::vector<DeliverabilityFinding> Run() {
    if (!from_domain_.empty()) CheckSenderDomain();
    CheckCarriers();
    return std::move(findings_);
  }

 private:
  void Add(Kind kind, std::string text) { findings_.push_back({kind, std::move(text)}); }

  // SPF and DMARC, and the DMARC policy against the server. A lookup
  // without answer ends the domain's checks: the next would wait as long.
  void CheckSenderDomain() {
    const TxtAnswer spf_answer = dns_.LookUpTxt(from_domain_);
    if (NoAnswer(spf_answer)) return;
    const std::string spf = FindRecord(spf_answer, "v=spf1");
    if (spf.empty()) {
      Add(Kind::kWarning, from_domain_ +
                              " に SPF レコードがありません。受信側で迷惑メールと"
                              "見なされることがあります");
    }
    const DmarcPolicy dmarc = FindPolicy();
    if (!dmarc.answered) return;
    if (!dmarc.found) {
      Add(Kind::kWarning, from_domain_ +
                              " に DMARC レコードがありません。Gmail などの受信側で"
                              "断られることがあります");
      return;
    }
    CheckPolicy(dmarc.policy, spf);
  }

  struct DmarcPolicy {
    bool answered = true;     // false: a lookup had no answer (a warning says so)
    bool found = false;       // a DMARC record applies to the domain
    std::string policy = {};  // its policy for the domain, in lower case
  };

  // The DMARC policy the receivers apply to the From domain: its own
  // record's "p=", else, for a subdomain, its organisation's "sp=" or "p="
  // (RFC 7489 6.6.3).
  DmarcPolicy FindPolicy() {
    const TxtAnswer own = dns_.LookUpTxt("_dmarc." + from_domain_);
    if (NoAnswer(own)) return {.answered = false};
    if (const std::string record = FindRecord(own, "v=DMARC1"); !record.empty()) {
      return {.found = true, .policy = DmarcTag(record, "p")};
    }
    const std::string organisation = RegistrableDomain(from_domain_);
    if (organisation == from_domain_) return {};
    const TxtAnswer parent = dns_.LookUpTxt("_dmarc." + organisation);
    if (NoAnswer(parent)) return {.answered = false};
    const std::string record = FindRecord(parent, "v=DMARC1");
    if (record.empty()) return {};
    const std::string subdomains = DmarcTag(record, "sp");
    return {.found = true, .policy = subdomains.empty() ? DmarcTag(record, "p") : subdomains};
  }

  bool NoAnswer(const TxtAnswer& answer) {
    if (answer.outcome != TxtAnswer::Outcome::kNoAnswer) return false;
    Add(Kind::kWarning, "DNS の答えがないため、" + from_domain_ +
                            " の SPF・DMARC を確かめられませんでした (" + answer.reason + ")");
    return true;
  }

  void CheckPolicy(const std::string& policy, const std::string& spf) {
    const std::string host = HostOf(input_.smtp_host);
    if ((policy != "quarantine" && policy != "reject") || host.empty()) return;
    if (ServerSendsFor(host, from_domain_, spf)) return;
    Add(Kind::kError, from_domain_ + " は DMARC で認証のないメールを" +
                          (policy == "reject" ? "拒否" : "隔離") +
                          "するよう求めています。別のドメインのサーバー " + host +
                          " から送ると受信側で断られます。From のドメインのメール サーバーから"
                          "送ってください");
  }

  void CheckCarriers() {
    std::size_t carriers = 0;
    std::size_t large = 0;
    const DeliverabilityRecipient* first_large = nullptr;
    for (const DeliverabilityRecipient& recipient : input_.recipients) {
      if (!IsCarrier(DomainOf(recipient.address))) continue;
      ++carriers;
      if (recipient.message_size <= kCarrierSizeLimit) continue;
      if (large++ == 0) first_large = &recipient;
    }
    if (carriers > 0) AddCarrierAdvice(carriers);
    if (large > 0) AddLargeWarning(large, *first_large);
  }

  static bool IsCarrier(std::string_view domain) {
    return std::any_of(
        kCarrierDomains.begin(), kCarrierDomains.end(),
        [&](std::string_view carrier) { return IsSubdomainOrSelf(domain, carrier); });
  }

  void AddCarrierAdvice(std::size_t count) {
    const std::string sender = from_domain_.empty() ? "送信元のドメイン" : from_domain_;
    Add(Kind::kAdvice, "携帯電話のアドレスが " + std::to_string(count) +
                           " 件あります。受信する人が携帯電話会社の受信設定で " + sender +
                           " からのメールを許可していないと届きません");
  }

  void AddLargeWarning(std::size_t count, const DeliverabilityRecipient& first) {
    Add(Kind::kWarning, "1 MB を超えるメッセージが携帯電話のアドレスに " + std::to_string(count) +
                            " 通あります (" + first.address + " など)。受け取れないか、" +
                            "一部しか表示されないことがあります");
  }

  const DeliverabilityInput& input_;
  TxtLookup& dns_;
  const std::string from_domain_;
  std::vector<DeliverabilityFinding> findings_;
};

}  // namespace

std::vector<DeliverabilityFinding> CheckDeliverability(const DeliverabilityInput& input,
                                                       TxtLookup& dns) {
  return Checker(input, dns).Run();
}

}  // namespace pinemail
