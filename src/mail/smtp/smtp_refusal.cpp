// The texts and the weight of an SMTP server's refusals.
#include "mail/smtp/smtp_refusal.h"

#include "mail/smtp/smtp_refusal_advice.h"
#include "text/credential_mask.h"
#include "text/utf8.h"

namespace pinemail {

std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view user_name,
                              std::string_view password) {
  std::string_view reason = "原因不明の SMTP エラー";
  std::string_view advice;
  if (reply_code >= 400 && !reply.empty()) {
    reason = reply;
    advice = RefusalAdvice(reply_code, reply);
  } else if (!library_error.empty()) {
    reason = library_error;
  }
  // Masked before the text is made printable, which could break a password
  // apart, and after, which could join one together.
  std::string text = MaskCredentials(PrintableText(MaskCredentials(reason, user_name, password)),
                                     user_name, password);
  if (!advice.empty()) text.append(" (").append(advice).append(")");
  return text;
}

MailResult SmtpRefusal(const SmtpReply& reply, SmtpStep step, std::string_view user_name,
                       std::string_view password) {
  const bool session = step == SmtpStep::kMail || reply.code == 421;
  return MailResult::Refused(
      session ? MailOutcome::kSessionRefused : MailOutcome::kFailed,
      SmtpFailureReason(reply.code, reply.text, "想定外の応答: " + reply.text, user_name, password),
      reply.code, SmtpEnhancedStatus(reply.text));
}

}  // namespace pinemail
