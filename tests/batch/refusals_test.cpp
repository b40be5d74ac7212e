// The refusal rules over sequences of transport results: what each try
// leads to.
#include "batch/refusals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pinemail {
namespace {

using Action = SendStep::Action;
using std::chrono::milliseconds;
using std::chrono::seconds;

MailResult Refused(int code, const char* status, bool session = false) {
  return MailResult::Refused(session ? MailOutcome::kSessionRefused : MailOutcome::kFailed,
                             std::to_string(code) + " " + status + " no", code, status);
}

// One step of a scenario: the result of a try, and what the policy says.
struct Try {
  MailResult result;
  Action action;
  milliseconds pause{};
};

// Runs records through the policy: each inner list is one record's tries.
void Expect(const std::vector<std::vector<Try>>& records, const std::string& name) {
  RefusalPolicy policy;
  int record_number = 0;
  for (const std::vector<Try>& tries : records) {
    ++record_number;
    policy.StartRecord();
    for (const Try& t : tries) {
      const SendStep step = policy.Judge(t.result);
      EXPECT_EQ(step.action, t.action) << name << ", record " << record_number;
      EXPECT_EQ(step.pause, t.pause) << name << ", record " << record_number;
    }
  }
}

TEST(RefusalPolicyTest, OneRecipientsRefusalFailsThatRecordOnly) {
  const Try sent{MailResult::Done("id"), Action::kSent};
  const Try busy{Refused(451, "4.2.1"), Action::kRetry, seconds(1)};
  const Try busy_again{Refused(451, "4.2.1"), Action::kRetry, seconds(2)};
  const Try busy_last{Refused(451, "4.2.1"), Action::kFail};
  Expect({{busy, busy_again, sent}, {busy, busy_again, busy_last}, {sent}}, "busy mailbox");
  // Recipients' addresses (X.1.1 to X.1.6, X.1.10) are about one address
  // each, however many.
  for (const char* status : {"5.1.1", "5.1.6", "5.1.10"}) {
    const Try bad{Refused(550, status), Action::kFail};
    Expect({{bad}, {bad}, {bad}, {bad}, {bad}, {bad}, {sent}}, status);
  }
  // Transports without reply codes: every failure is the record's.
  const Try failed{MailResult::Failed("disk full"), Action::kFail};
  Expect({{failed}, {failed}, {failed}, {failed}, {failed}, {failed}}, "no codes");
}

TEST(RefusalPolicyTest, TheSessionRefusedWaitsLongerEachTimeThenStops) {
  std::vector<Try> tries;
  milliseconds pause = seconds(1);
  milliseconds total{};
  while (total + pause <= seconds(300)) {
    tries.push_back({Refused(421, "4.7.0", true), Action::kBackOff, pause});
    total += pause;
    pause *= 2;
  }
  // The last pause fills the five minutes exactly; then the run stops.
  tries.push_back({Refused(421, "4.7.0", true), Action::kBackOff, seconds(300) - total});
  tries.push_back({Refused(421, "4.7.0", true), Action::kStop});
  EXPECT_EQ(tries.size(), 10u);  // 1, 2, 4, ... 128 s, 45 s, stop
  Expect({tries}, "421 for ever");

  // A pause that helped: the next record starts afresh.
  const Try sent{MailResult::Done(), Action::kSent};
  Expect({{{Refused(421, "4.7.0", true), Action::kBackOff, seconds(1)},
           {Refused(450, "", true), Action::kBackOff, seconds(2)},
           sent},
          {{Refused(421, "4.7.0", true), Action::kBackOff, seconds(1)}, sent}},
         "421 burst");
  // A lasting refusal of the sender stops at once; so does the sender's
  // address refused at RCPT (X.1.7, X.1.8), and a temporary one waits.
  Expect({{sent}, {{Refused(550, "5.4.5", true), Action::kStop}}}, "daily limit");
  Expect({{sent}, {{Refused(553, "5.1.7"), Action::kStop}}}, "sender syntax");
  Expect({{{Refused(450, "4.1.8"), Action::kBackOff, seconds(1)},
           {Refused(450, "4.1.8"), Action::kBackOff, seconds(2)}}},
         "sender domain");
}

TEST(RefusalPolicyTest, TheSameRefusalFiveRecordsInARowConcernsTheSession) {
  const Try spam{Refused(554, "5.7.1"), Action::kFail};
  const Try sent{MailResult::Done(), Action::kSent};
  Expect({{spam}, {spam}, {spam}, {spam}, {{Refused(554, "5.7.1"), Action::kStop}}},
         "lasting, five in a row");
  // Addressing codes that name no recipient's address count as well.
  for (const char* status : {"5.1.0", "5.1.9"}) {
    const Try other{Refused(550, status), Action::kFail};
    Expect({{other}, {other}, {other}, {other}, {{Refused(550, status), Action::kStop}}}, status);
  }
  // Broken by a message that went, or by another code, the count starts again.
  Expect({{spam}, {spam}, {spam}, {spam}, {sent}, {spam}, {spam}, {spam}, {spam}}, "broken");
  Expect({{spam}, {spam}, {spam}, {spam}, {{Refused(554, "5.7.0"), Action::kFail}}, {spam}},
         "another code");
  // A temporary one that repeats gets the growing pauses, not the short ones.
  const Try rate{Refused(451, "4.7.1"), Action::kRetry, seconds(1)};
  const Try rate2{Refused(451, "4.7.1"), Action::kRetry, seconds(2)};
  const Try rate_last{Refused(451, "4.7.1"), Action::kFail};
  Expect({{rate, rate2, rate_last},
          {rate, rate2, rate_last},
          {rate, rate2, rate_last},
          {rate, rate2, rate_last},
          {{Refused(451, "4.7.1"), Action::kBackOff, seconds(1)},
           {Refused(451, "4.7.1"), Action::kBackOff, seconds(2)},
           sent}},
         "temporary, five in a row");
}

TEST(RefusalPolicyTest, ThreeRecordsLostInARowStopTheRunWithTheServersWords) {
  const Try lost{MailResult::ConnectionLost("no reply"), Action::kFail};
  const Try sent{MailResult::Done(), Action::kSent};
  Expect(
      {{lost}, {lost}, {sent}, {lost}, {lost}, {{MailResult::ConnectionLost("x"), Action::kStop}}},
      "lost");
  // A connection lost while the session was refused keeps the refusal as
  // the record's reason.
  RefusalPolicy policy;
  policy.StartRecord();
  EXPECT_EQ(policy.Judge(Refused(421, "4.3.2", true)).action, Action::kBackOff);
  const SendStep step = policy.Judge(MailResult::ConnectionLost("connection refused"));
  EXPECT_EQ(step.action, Action::kFail);
  EXPECT_EQ(step.reason, "421 4.3.2 no");
}

}  // namespace
}  // namespace pinemail
