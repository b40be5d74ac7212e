// The run log's blocks and the log file of one run.
#include "batch/run_log.h"

#include "text/codepage.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kRuleLength = 57;

constexpr std::string_view kRejectedLine = "送信に十分なデータが取得できませんでした。";
constexpr std::string_view kSentLine = "メッセージ送信";
constexpr std::string_view kSentBeforeLine = "前回の実行で送信済みです。";
constexpr std::string_view kSendFailedLine = "送信に失敗しました。";
constexpr std::string_view kStoppedLine = "送信を中断しました。";

constexpr std::string_view kUserNameLabel = "User Name: ";
constexpr std::string_view kPasswordLabel = "Password : ";
constexpr std::string_view kAddressLabel = "送信先アドレス: ";
constexpr std::string_view kNameLabel = "表示送信者名　: ";
constexpr std::string_view kTemplateLabel = "テンプレート　: ";
constexpr std::string_view kSubjectLabel = "件名　　　　　: ";

}  // namespace

LogBlock& LogBlock::Line(std::string_view text) {
  text_ += text;
  text_ += "\r\n";
  return *this;
}

LogBlock& LogBlock::Line(std::string_view label, std::string_view value) {
  text_ += label;
  return Line(BlankControls(value));
}

LogBlock& LogBlock::Rule(char mark) { return Line(std::string(kRuleLength, mark)); }

LogBlock& LogBlock::RunHeader(std::string_view timestamp) {
  return Rule('*').Line().Line(timestamp).Line();
}

LogBlock& LogBlock::Credentials(std::string_view user_name, std::string_view password_mask) {
  return Line(kUserNameLabel, user_name).Line(kPasswordLabel, password_mask).Line();
}

LogBlock& LogBlock::Record(const RecipientRecord& record) {
  return Line(kAddressLabel, record.address)
      .Line(kNameLabel, record.display_name)
      .Line(kTemplateLabel, record.template_name);
}

LogBlock& LogBlock::Sent(std::string_view subject) {
  return Line(kSubjectLabel, subject).Line(kSentLine).Rule('-').Line();
}

LogBlock& LogBlock::SentBefore(const std::string* subject) {
  if (subject != nullptr) Line(kSubjectLabel, *subject);
  return Line(kSentBeforeLine).Rule('-').Line();
}

LogBlock& LogBlock::Rejected(std::string_view reason) {
  if (reason.empty()) return Line(kRejectedLine).Rule('=').Line();
  return Line(std::string(kRejectedLine) + "(" + BlankControls(reason) + ")").Rule('=').Line();
}

LogBlock& LogBlock::SendFailed(std::string_view subject, std::string_view reason) {
  Line(kSubjectLabel, subject);
  return Line(std::string(kSendFailedLine) + "(" + std::string(reason) + ")").Rule('=').Line();
}

LogBlock& LogBlock::SignOnFailed(std::string_view reason) {
  if (reason.empty()) return Line(kSignOnFailedLine);
  return Line(std::string(kSignOnFailedLine) + "(" + std::string(reason) + ")");
}

LogBlock& LogBlock::Stopped(std::string_view reason) {
  return Line(std::string(kStoppedLine) + "(" + std::string(reason) + ")").Rule('=').Line();
}

bool RunLog::Open(const std::string& path, OpenFailure* failure) {
  std::string reason;
  bool in_use = false;
  file_ = OpenSoleWriter(path, &reason, &in_use);
  if (file_) return true;
  *failure = {path, in_use ? std::string(kLogInUseReason) : reason};
  return false;
}

bool RunLog::Write(const LogBlock& block) {
  return AppendWhole(file_.get(), EncodeSystemText(block.text()), &error_);
}

}  // namespace pinemail
