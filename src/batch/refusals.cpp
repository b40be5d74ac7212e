// The rules for messages the transport did not send.
#include "batch/refusals.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <system_error>

namespace pinemail {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A temporary refusal of one recipient is tried again after these pauses.
constexpr std::array<milliseconds, 2> kShortPauses = {seconds(1), seconds(2)};
constexpr milliseconds kFirstBackOff = seconds(1);

bool Temporary(const MailResult& result) { return result.reply_code / 100 == 4; }

// The detail of an X.1.x status code (RFC 3463: addressing status); -1 for
// any other code.
int AddressDetail(std::string_view status_code) {
  if (status_code.size() < 5 || status_code.substr(1, 3) != ".1.") return -1;
  const char* const end = status_code.data() + status_code.size();
  int detail = -1;
  const auto [stop, error] = std::from_chars(status_code.data() + 4, end, detail);
  return error == std::errc() && stop == end ? detail : -1;
}

// X.1.1 to X.1.6 and X.1.10: the status of one recipient's address. Five
// unknown mailboxes in a row are five failed records, not a refused account.
bool AboutOneRecipient(std::string_view status_code) {
  const int detail = AddressDetail(status_code);
  return (detail >= 1 && detail <= 6) || detail == 10;
}

// X.1.7 and X.1.8: the sender's address (its syntax, its domain). Whatever
// command the server refuses with it, no message can go until it is fixed.
bool AboutTheSender(std::string_view status_code) {
  const int detail = AddressDetail(status_code);
  return detail == 7 || detail == 8;
}

}  // namespace

void RefusalPolicy::StartRecord() {
  short_tries_ = 0;
  backed_off_ = {};
  next_back_off_ = kFirstBackOff;
  last_refusal_.clear();
}

bool RefusalPolicy::RepeatsTheStreak(const MailResult& result) const {
  return result.reply_code != 0 && result.reply_code == streak_reply_ &&
         result.status_code == streak_status_ && streak_length_ + 1 >= kSameRefusalsToStop &&
         !AboutOneRecipient(result.status_code);
}

SendStep RefusalPolicy::Judge(const MailResult& result) {
  SendStep step;
  if (result.ok()) {
    lost_in_row_ = 0;
    streak_length_ = 0;
    step.action = SendStep::Action::kSent;
    return step;
  }
  if (result.outcome == MailOutcome::kConnectionLost) {
    streak_length_ = 0;
    step = Fail(last_refusal_.empty() ? result.reason : last_refusal_);
    if (++lost_in_row_ >= kLostConnectionsToStop) {
      step.action = SendStep::Action::kStop;
      step.stop_reason =
          "サーバーとの接続に " + std::to_string(kLostConnectionsToStop) + " 件続けて失敗しました";
    }
    return step;
  }
  lost_in_row_ = 0;
  last_refusal_ = result.reason;
  const bool session =
      result.outcome == MailOutcome::kSessionRefused || AboutTheSender(result.status_code);
  if (session || RepeatsTheStreak(result)) return BackOff(result, session);
  if (Temporary(result) && short_tries_ < kShortPauses.size()) {
    step.action = SendStep::Action::kRetry;
    step.pause = kShortPauses[short_tries_++];
    return step;
  }
  // The record ends with this refusal: it extends the streak or starts one.
  if (result.reply_code != 0 && result.reply_code == streak_reply_ &&
      result.status_code == streak_status_) {
    ++streak_length_;
  } else {
    streak_reply_ = result.reply_code;
    streak_status_ = result.status_code;
    streak_length_ = result.reply_code != 0 ? 1 : 0;
  }
  return Fail(result.reason);
}

// The account or session is refused (`session`: the transport or the
// status code says so; else the same refusal came record after record): a
// temporary refusal waits, doubling
// the pause, until kBackOffLimit is spent; a lasting one stops the run.
SendStep RefusalPolicy::BackOff(const MailResult& result, bool session) {
  SendStep step = Fail(result.reason);
  step.action = SendStep::Action::kStop;
  if (!Temporary(result)) {
    step.stop_reason = session ? "サーバーが送信を断りました: " + result.reason
                               : "同じ理由で " + std::to_string(kSameRefusalsToStop) +
                                     " 件続けて断られました: " + result.reason;
    return step;
  }
  const milliseconds left = milliseconds(kBackOffLimit) - backed_off_;
  if (left.count() <= 0) {
    step.stop_reason =
        "5 分間待って送り直しましたが、サーバーが受け付けませんでした: " + result.reason;
    return step;
  }
  step.action = SendStep::Action::kBackOff;
  step.pause = std::min(next_back_off_, left);
  backed_off_ += step.pause;
  next_back_off_ *= 2;
  return step;
}

SendStep RefusalPolicy::Fail(std::string reason) {
  SendStep step;
  step.action = SendStep::Action::kFail;
  step.reason = std::move(reason);
  return step;
}

}  // namespace pinemail
