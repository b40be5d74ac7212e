// Prints what the DNS TXT lookup or the deliverability check finds through a
// given DNS server, one line each: `check_deliverability SERVER txt NAME` or
// `check_deliverability SERVER check FROM SMTP_HOST [RECIPIENT]...`.
#include <cstdio>
#include <string>

#include "batch/deliverability.h"

int main(int argc, char** argv) {
  using pinemail::TxtAnswer;
  if (argc < 4) return 2;
  pinemail::SystemTxtLookup dns(argv[1]);
  if (std::string(argv[2]) == "txt") {
    const TxtAnswer answer = dns.LookUpTxt(argv[3]);
    const char* outcomes[] = {"records", "none", "no answer"};
    std::printf("%s\t%s\n", outcomes[static_cast<int>(answer.outcome)], answer.reason.c_str());
    for (const std::string& record : answer.records) std::printf("%s\n", record.c_str());
    return 0;
  }
  pinemail::DeliverabilityInput input{argv[3], argc > 4 ? argv[4] : "", {}};
  for (int i = 5; i < argc; ++i) input.recipients.push_back({argv[i], 0});
  const char* kinds[] = {"warning", "error", "advice"};
  for (const auto& finding : pinemail::CheckDeliverability(input, dns)) {
    std::printf("%s\t%s\n", kinds[static_cast<int>(finding.kind)], finding.text.c_str());
  }
  return 0;
}
