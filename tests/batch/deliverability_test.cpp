// The deliverability check over a fake DNS: which findings each situation
// gives, of which kind, about which domain.
#include "batch/deliverability.h"

#include <gtest/gtest.h>

#include <map>

namespace pinemail {
namespace {

using Outcome = TxtAnswer::Outcome;
constexpr auto W = DeliverabilityFinding::Kind::kWarning;
constexpr auto E = DeliverabilityFinding::Kind::kError;
constexpr auto A = DeliverabilityFinding::Kind::kAdvice;

// A zone of one TXT record a name (others have none); one name never answers.
class FakeTxtLookup : public TxtLookup {
 public:
  std::vector<std::string> asked;
  TxtAnswer LookUpTxt(std::string_view name) override {
    static const std::map<std::string, std::string, std::less<>> zone = {
        {"spfonly.jp", "v=spf1 -all"},
        {"gmail.com", "v=spf1 redirect=_spf.google.com"},
        {"_dmarc.gmail.com", "v=DMARC1; p=reject; rua=mailto:d@gmail.com"},
        {"_dmarc.example.co.jp", "v=DMARC1;p=Quarantine"},
        {"_dmarc.mail.example.co.jp", "v=DMARC1; p=reject"},
        {"_dmarc.outlook.jp", "v=DMARC1; p=reject"},
        {"hosted.jp", "v=spf1 include:_spf.google.com ~all"},
        {"_dmarc.hosted.jp", "v=DMARC1; p=reject"},
        {"_dmarc.none.jp", "v=DMARC1; p=none"},
        {"_dmarc.lenient.jp", "v=DMARC1; p=reject; sp=none"}};
    asked.emplace_back(name);
    if (name == "silent.jp") return {Outcome::kNoAnswer, {}, "timeout"};
    const auto found = zone.find(name);
    if (found == zone.end()) return {Outcome::kNoRecords, {}, {}};
    return {Outcome::kRecords, {"site-verification=1", found->second}, {}};
  }
};

struct Case {
  std::string from, host;
  std::vector<std::pair<DeliverabilityFinding::Kind, std::string>> expected;  // kind, a part
  std::vector<DeliverabilityRecipient> recipients = {};
  std::size_t lookups = 2;  // SPF, then DMARC
};

TEST(DeliverabilityTest, FindingsFollowTheRecordsTheServerAndTheRecipients) {
  const std::vector<Case> cases = {
      {"a@bare.jp", "smtp.bare.jp", {{W, "bare.jp に SPF"}, {W, "bare.jp に DMARC"}}},
      {"a@spfonly.jp", "", {{W, "DMARC"}}},
      {"taro@Gmail.com", "smtp.hosting.ne.jp:587", {{E, "smtp.hosting.ne.jp"}}},
      {"taro@gmail.com", "smtp.gmail.com", {}},
      {"a@example.co.jp", "smtp.other.co.jp", {{W, "SPF"}, {E, "smtp.other.co.jp"}}},
      {"a@mail.example.co.jp", "smtp.example.co.jp", {{W, "SPF"}}},
      // A subdomain without a record of its own: its organisation's "sp=",
      // else its "p=".
      {"a@shop.example.co.jp", "smtp.other.co.jp", {{W, "SPF"}, {E, "smtp.other.co.jp"}}, {}, 3},
      {"a@news.lenient.jp", "smtp.hosting.ne.jp", {{W, "SPF"}}, {}, 3},
      {"a@news.bare.jp", "", {{W, "news.bare.jp に SPF"}, {W, "news.bare.jp に DMARC"}}, {}, 3},
      {"hana@outlook.jp", "smtp.office365.com", {{W, "SPF"}}},
      {"a@hosted.jp", "smtp.gmail.com", {}},
      {"a@hosted.jp", "", {}},
      {"a@none.jp", "smtp.hosting.ne.jp", {{W, "SPF"}}},
      {"a@silent.jp", "smtp.hosting.ne.jp", {{W, "timeout"}}},
      {"a@hosted.jp",
       "",
       {{A, "2 件"}, {W, "a@docomo.ne.jp"}},
       {{"a@docomo.ne.jp", 2'000'000}, {"b@hosted.jp", 3'000'000}, {"c@Biz.EZweb.ne.jp", 9}}},
      {"", "", {}, {{"a@notdocomo.ne.jp", 2'000'000}}},
  };
  for (const Case& c : cases) {
    FakeTxtLookup dns;
    const std::vector<DeliverabilityFinding> found =
        CheckDeliverability({c.from, c.host, c.recipients}, dns);
    ASSERT_EQ(found.size(), c.expected.size()) << c.from << " " << c.host;
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].kind, c.expected[i].first) << c.from << ": " << found[i].text;
      EXPECT_NE(found[i].text.find(c.expected[i].second), std::string::npos) << found[i].text;
    }
    // A name that does not answer is not asked again under another name.
    EXPECT_EQ(dns.asked.size(), c.from.empty() ? 0u : c.from == "a@silent.jp" ? 1u : c.lookups);
  }
}

}  // namespace
}  // namespace pinemail
