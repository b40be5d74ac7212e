// The rules for messages the transport did not send.
#include "batch/refusals.h"

#include <algorithm>
#include <array>

namespace pinemail {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A temporary refusal of one recipient is tried again after these pauses.
constexpr std::array<milliseconds, 2> kShortPauses = {seconds(1), seconds(2)};
constexpr milliseconds kFirstBackOff = seconds(1);

bool Temporary(const MailResult& result) { return result.reply_code / 100 == 4; }

// X.1.x (RFC 3463): the status of one address. Five unknown mailboxes in a
// row are five failed records, not a refused account.
bool AboutOneAddress(const std::string& status_code) {
  return status_code.size() >= 4 && status_code[1] == '.' && status_code[2] == '1' &&
         status_code[3] == '.';
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
         !AboutOneAddress(result.status_code);
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
  if (result.outcome == MailOutcome::kSessionRefused || RepeatsTheStreak(result)) {
    return BackOff(result);
  }
  if (Temporary(result) && short_tries_ < kShortPauses.size()) {
    step.action = SendStep::Action::kTryAgain;
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

// The account or session is refused: a temporary refusal waits, doubling
// the pause, until kBackOffLimit is spent; a lasting one stops the run.
SendStep RefusalPolicy::BackOff(const MailResult& result) {
  SendStep step = Fail(result.reason);
  step.action = SendStep::Action::kStop;
  if (!Temporary(result)) {
    step.stop_reason = result.outcome == MailOutcome::kSessionRefused
                           ? "サーバーが送信を断りました: " + result.reason
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
  step.action = SendStep::Action::kTryAgain;
  step.back_off = true;
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
