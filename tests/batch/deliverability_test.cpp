// The deliverability check over a fake DNS: which findings each situation
// gives, of which kind, about which domain.
#include "batch/deliverability.h"

#include <gtest/gtest.h>

#include <map>

namespace pinemail {
namespace {

using Kind = DeliverabilityFinding::Kind;
using Outcome = TxtAnswer::Outcome;

class FakeTxtLookup : public TxtLookup {
 public:
  std::map<std::string, TxtAnswer, std::less<>> answers;  // others: no records
  std::vector<std::string> asked;
  TxtAnswer LookUpTxt(std::string_view name) override {
    asked.emplace_back(name);
    const auto found = answers.find(name);
    return found != answers.end() ? found->second : TxtAnswer{Outcome::kNoRecords, {}, {}};
  }
};

TxtAnswer Records(std::vector<std::string> records) {
  return {Outcome::kRecords, std::move(records), {}};
}

const TxtAnswer kSpf =
    Records({"google-site-verification=x", "v=spf1 include:_spf.google.com ~all"});
const TxtAnswer kReject = Records({"v=DMARC1; p=reject; rua=mailto:d@example.jp"});

struct Case {
  const char* name;
  std::string from, host;
  std::map<std::string, TxtAnswer, std::less<>> answers;
  std::vector<DeliverabilityRecipient> recipients;
  std::vector<std::pair<Kind, std::string>> expected;  // each finding's kind and a part of it
};

TEST(DeliverabilityTest, FindingsFollowTheRecordsTheServerAndTheRecipients) {
  const std::vector<DeliverabilityRecipient> carriers = {
      {"a@docomo.ne.jp", 2'000'000}, {"b@example.jp", 3'000'000}, {"c@Biz.EZweb.ne.jp", 900'000}};
  const std::vector<Case> cases = {
      {"no records",
       "taro@example.jp",
       "smtp.example.jp",
       {},
       {},
       {{Kind::kWarning, "example.jp に SPF"}, {Kind::kWarning, "example.jp に DMARC"}}},
      {"SPF only", "taro@example.jp", "", {{"example.jp", kSpf}}, {}, {{Kind::kWarning, "DMARC"}}},
      {"reject through a hosting server",
       "taro@Gmail.com",
       "smtp.hosting.ne.jp:587",
       {{"gmail.com", kSpf}, {"_dmarc.gmail.com", kReject}},
       {},
       {{Kind::kError, "smtp.hosting.ne.jp"}}},
      {"quarantine across .co.jp",
       "a@example.co.jp",
       "smtp.other.co.jp",
       {{"example.co.jp", kSpf}, {"_dmarc.example.co.jp", Records({"v=DMARC1;p=Quarantine"})}},
       {},
       {{Kind::kError, "smtp.other.co.jp"}}},
      {"reject through the domain's own server",
       "a@mail.example.co.jp",
       "smtp.example.co.jp",
       {{"mail.example.co.jp", kSpf}, {"_dmarc.mail.example.co.jp", kReject}},
       {},
       {}},
      {"reject through the provider's server",
       "hana@outlook.jp",
       "smtp.office365.com",
       {{"outlook.jp", kSpf}, {"_dmarc.outlook.jp", kReject}},
       {},
       {}},
      {"reject, own domain hosted at the provider",
       "a@example.jp",
       "smtp.gmail.com",
       {{"example.jp", kSpf}, {"_dmarc.example.jp", kReject}},
       {},
       {}},
      {"reject, no SMTP server",
       "a@example.jp",
       "",
       {{"example.jp", kSpf}, {"_dmarc.example.jp", kReject}},
       {},
       {}},
      {"p=none through a foreign server",
       "a@example.jp",
       "smtp.hosting.ne.jp",
       {{"example.jp", kSpf}, {"_dmarc.example.jp", Records({"v=DMARC1; p=none"})}},
       {},
       {}},
      {"no answer",
       "a@example.jp",
       "",
       {{"example.jp", {Outcome::kNoAnswer, {}, "timeout"}}},
       {},
       {{Kind::kWarning, "timeout"}}},
      {"carriers once, one large message to them",
       "a@example.jp",
       "",
       {{"example.jp", kSpf}, {"_dmarc.example.jp", kReject}},
       carriers,
       {{Kind::kAdvice, "2 件"}, {Kind::kWarning, "a@docomo.ne.jp"}}},
      {"no sender address, a look-alike domain",
       "",
       "",
       {},
       {{"a@notdocomo.ne.jp", 2'000'000}},
       {}},
  };
  for (const Case& c : cases) {
    FakeTxtLookup dns;
    dns.answers = c.answers;
    const std::vector<DeliverabilityFinding> found =
        CheckDeliverability({c.from, c.host, c.recipients}, dns);
    ASSERT_EQ(found.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].kind, c.expected[i].first) << c.name << ": " << found[i].text;
      EXPECT_NE(found[i].text.find(c.expected[i].second), std::string::npos)
          << c.name << ": " << found[i].text;
    }
    // A name that does not answer is not asked again under another name.
    if (c.name == std::string("no answer")) {
      EXPECT_EQ(dns.asked.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace pinemail
