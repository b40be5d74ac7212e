// The portable part of "Password Command": what its output means.
#include "mail/password_command.h"

namespace pinemail {

bool TakeFirstLine(const std::string& output, bool complete, std::string* secret,
                   std::string* reason) {
  if (!complete) {
    *reason = "Password Command の出力が長すぎます";
    return false;
  }
  std::string line = output.substr(0, output.find_first_of("\r\n"));
  if (line.empty()) {
    *reason = "Password Command が何も出力しませんでした";
    return false;
  }
  *secret = std::move(line);
  return true;
}

std::string ExitReason(long status) {
  return "Password Command が失敗しました (終了コード " + std::to_string(status) + ")";
}

}  // namespace pinemail
