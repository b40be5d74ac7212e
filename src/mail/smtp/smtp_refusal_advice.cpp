// The table of explained refusals: one row per reply, the first that matches
// wins, so a narrow row goes before a broad one.
#include "mail/smtp/smtp_refusal_advice.h"

#include <array>
#include <string>

#include "mail/smtp/smtp_reply.h"

namespace pinemail {
namespace {

struct AdviceRow {
  int reply_code;           // 0: any code
  std::string_view status;  // the enhanced status code (RFC 3463); empty: any
  std::string_view advice;
};

constexpr std::string_view kUseOAuth =
    "このアカウントではパスワードによる SMTP 認証が無効にされています。"
    "Auth=oauth2 で OAuth 2.0 のサインインを使ってください";
constexpr std::string_view kRate =
    "短い時間に送りすぎたため、サーバーが受け付けを一時的に止めています。"
    "Send Rate で送る速さを下げてください (例: 20/min)";
constexpr std::string_view kTooLarge =
    "メッセージが大きすぎます。添付ファイルや画像を小さくしてください";

constexpr std::array kAdviceRows = {
    AdviceRow{535, "5.7.139", kUseOAuth},
    AdviceRow{535, "5.7.3",
              "パスワードが違うか、このアカウントでパスワードによる SMTP 認証が無効にされて"
              "います。無効のときは Auth=oauth2 で OAuth 2.0 のサインインを使ってください"},
    AdviceRow{550, "5.7.30", kUseOAuth},
    AdviceRow{534, "5.7.9",
              "アプリ パスワードが必要です。アカウントの設定でアプリ パスワードを作って "
              "Password に設定するか、Auth=oauth2 を使ってください"},
    AdviceRow{550, "5.7.26",
              "送信者のドメインの認証 (SPF・DKIM・DMARC) に通らないため受け取りを断られました。"
              "From のドメインのメール サーバーから送るか、ドメインの DNS を設定してください"},
    AdviceRow{550, "5.7.515",
              "Outlook.com が送信者のドメインの認証 (SPF・DKIM・DMARC) を求めています。"
              "From のドメインのメール サーバーから送るか、ドメインの DNS を設定してください"},
    AdviceRow{421, "4.7.0", kRate},
    AdviceRow{0, "4.7.28", kRate},
    AdviceRow{552, "5.2.2", "宛先のメールボックスがいっぱいです"},
    AdviceRow{0, "5.3.4", kTooLarge},
    AdviceRow{552, "", kTooLarge},
};

bool Matches(const AdviceRow& row, int reply_code, std::string_view status) {
  return (row.reply_code == 0 || row.reply_code == reply_code) &&
         (row.status.empty() || row.status == status);
}

}  // namespace

std::string_view RefusalAdvice(int reply_code, std::string_view reply) {
  const std::string status = SmtpEnhancedStatus(reply);
  for (const AdviceRow& row : kAdviceRows) {
    if (Matches(row, reply_code, status)) return row.advice;
  }
  return {};
}

}  // namespace pinemail
