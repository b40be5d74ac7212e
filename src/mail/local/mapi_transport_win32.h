// Sends mail through the system's Simple MAPI provider (MAPI32.DLL), without
// any dialog, so that a run can go unattended.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mail/transport.h"

namespace pinemail {

// The Simple MAPI transport. The DLL is loaded at sign-on from the system
// folder only, so a mapi32.dll planted beside the program or in the current
// folder is never used. Sign-on fails when the DLL, MAPILogon or both send
// functions are missing, or when MAPILogon fails. Send uses MAPISendMailW
// where the DLL exports it, else MAPISendMail with the texts in the ANSI code
// page. No call carries a UI flag.
class MapiTransport : public MailTransport {
 public:
  MapiTransport();
  ~MapiTransport() override;
  MapiTransport(const MapiTransport&) = delete;
  MapiTransport& operator=(const MapiTransport&) = delete;

  MailResult SignOn(const std::string& user_name, const std::string& password) override;
  MailResult Send(const OutgoingMessage& message) override;
  // The mail client resolves whatever the list names.
  MailResult Check(const OutgoingMessage&) override { return MailResult::Done(); }
  void SignOff() override;

 private:
  struct Api;
  std::unique_ptr<Api> api_;  // the loaded DLL and its entry points; null until SignOn
};

// A MAPI result code as a readable reason: "MAPI_E_FAILURE (2)"; unknown
// codes as "MAPI のエラー (n)".
std::string MapiErrorReason(unsigned long code);

}  // namespace pinemail
