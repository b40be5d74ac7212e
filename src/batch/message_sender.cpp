// The tries at one message: pacing, pauses and the refusal rules' verdicts.
#include "batch/message_sender.h"

#include <thread>

#include "mail/net/waits.h"
#include "text/credential_mask.h"
#include "text/utf8.h"

namespace pinemail {

std::string CleanReason(std::string_view reason, const Settings& settings) {
  return BlankControls(
      MaskSecrets(reason, settings.user_name,
                  {settings.password, settings.oauth_client_secret, settings.oauth_refresh_token}));
}

SendEnd MessageSender::Send(const OutgoingMessage& message,
                            const std::vector<const OutgoingMessage*>& ahead,
                            MailTransport& transport) {
  refusals_.StartRecord();
  for (;;) {
    if (!WaitForTurn()) return {SendEnd::Kind::kStopAsked};
    const MailResult result = transport.SendAhead(message, ahead);
    const SendStep step = refusals_.Judge(result);
    switch (step.action) {
      case SendStep::Action::kSent:
        return {SendEnd::Kind::kSent, result.message_id};
      case SendStep::Action::kRetry:
      case SendStep::Action::kBackOff:
        Pause(step, result);
        if (StopAsked()) return {SendEnd::Kind::kStopAsked};
        continue;
      case SendStep::Action::kFail:
        return {SendEnd::Kind::kFailed, {}, CleanReason(step.reason, settings_)};
      case SendStep::Action::kStop:
        return {SendEnd::Kind::kStopsRun,
                {},
                CleanReason(step.reason, settings_),
                CleanReason(step.stop_reason, settings_)};
    }
  }
}

// Keeps the gap "Send Rate" asks for; nothing at all without one. False
// when a person stopped the run meanwhile: nothing may start then.
bool MessageSender::WaitForTurn() {
  if (!pacer_.paced()) return true;
  const std::chrono::nanoseconds wait = pacer_.WaitAt(Now());
  if (wait.count() > 0) {
    if (env_.waiting) {
      BatchWait pacing;
      pacing.length = std::chrono::ceil<std::chrono::milliseconds>(wait);
      env_.waiting(pacing);
    }
    Sleep(wait);
    if (StopAsked()) return false;
  }
  pacer_.Started(Now());
  return true;
}

void MessageSender::Pause(const SendStep& step, const MailResult& result) {
  BatchWait pause;
  pause.kind = step.action == SendStep::Action::kBackOff ? BatchWait::Kind::kBackOff
                                                         : BatchWait::Kind::kRetry;
  pause.length = ScaledWait(step.pause, env_.tuning.wait_scale);
  pause.reply = CleanReason(result.reason, settings_);
  if (env_.waiting) env_.waiting(pause);
  Sleep(pause.length);
}

void MessageSender::Sleep(std::chrono::nanoseconds length) const {
  if (StopAsked()) return;
  if (env_.sleep) {
    env_.sleep(length);
  } else {
    std::this_thread::sleep_for(length);
  }
}

}  // namespace pinemail
