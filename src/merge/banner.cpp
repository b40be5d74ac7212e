// Builds the banner that stands in front of every message body.
#include "merge/banner.h"

#include "config/product.h"

namespace pinemail {

std::string MailBanner() {
  std::string banner;
  banner += "このメールは、";
  banner += kSiteTitle;
  banner += "　にて公開された\r\n";
  banner += kToolTitle;
  banner += "　　を使用して送付されました。\r\n";
  banner += "    URL   ";
  banner += kSiteAddress;
  banner += "\r\n";
  // Two empty lines part the banner from the body.
  banner += "\r\n\r\n";
  return banner;
}

}  // namespace pinemail
