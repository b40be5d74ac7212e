// Simple MAPI transport: MAPI32.DLL from the system folder, no dialogs.
#include "mail/mapi_transport_win32.h"

#include <windows.h>
#include <mapi.h>

#include <string>

#include "text/codepage.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

// mingw-w64's <mapi.h> lacks the Unicode structures; these follow the
// Windows SDK layout of MapiRecipDescW / MapiFileDescW / MapiMessageW.
struct RecipDescW {
  ULONG ulReserved;
  ULONG ulRecipClass;
  PWSTR lpszName;
  PWSTR lpszAddress;
  ULONG ulEIDSize;
  PVOID lpEntryID;
};

struct FileDescW {
  ULONG ulReserved;
  ULONG flFlags;
  ULONG nPosition;
  PWSTR lpszPathName;
  PWSTR lpszFileName;
  PVOID lpFileType;
};

struct MessageW {
  ULONG ulReserved;
  PWSTR lpszSubject;
  PWSTR lpszNoteText;
  PWSTR lpszMessageType;
  PWSTR lpszDateReceived;
  PWSTR lpszConversationID;
  FLAGS flFlags;
  RecipDescW* lpOriginator;
  ULONG nRecipCount;
  RecipDescW* lpRecips;
  ULONG nFileCount;
  FileDescW* lpFiles;
};

using LogonFn = ULONG(WINAPI*)(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE);
using LogoffFn = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, FLAGS, ULONG);
using SendMailFn = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, lpMapiMessage, FLAGS, ULONG);
using SendMailWFn = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, MessageW*, FLAGS, ULONG);

// Loads MAPI32.DLL from the system folder and nowhere else. Windows 7 without
// its loader update rejects LOAD_LIBRARY_SEARCH_SYSTEM32; the full path to
// the system folder keeps the same guarantee there.
HMODULE LoadSystemMapi() {
  HMODULE module = LoadLibraryExW(L"mapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L"\\mapi32.dll";
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  // GetProcAddress hands back a generic function pointer; the signature is
  // Simple MAPI's documented one.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A writable copy for the LPSTR / PWSTR members Simple MAPI declares
// non-const; null when empty only where the documentation allows it.
char* Mutable(std::string& text) { return text.data(); }
wchar_t* Mutable(std::wstring& text) { return text.data(); }

}  // namespace

struct MapiTransport::Api {
  HMODULE module = nullptr;
  LogonFn logon = nullptr;
  LogoffFn logoff = nullptr;
  SendMailFn send_mail = nullptr;
  SendMailWFn send_mail_w = nullptr;
  LHANDLE session = 0;
  bool signed_on = false;
};

MapiTransport::MapiTransport() : api_(new Api) {}

MapiTransport::~MapiTransport() {
  SignOff();
  delete api_;
}

bool MapiTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  api_->module = LoadSystemMapi();
  if (api_->module == nullptr) {
    sign_on_failure_ = "MAPI32.DLL could not be loaded";
    return false;
  }
  api_->logon = Entry<LogonFn>(api_->module, "MAPILogon");
  api_->logoff = Entry<LogoffFn>(api_->module, "MAPILogoff");
  api_->send_mail = Entry<SendMailFn>(api_->module, "MAPISendMail");
  api_->send_mail_w = Entry<SendMailWFn>(api_->module, "MAPISendMailW");
  if (api_->logon == nullptr || (api_->send_mail == nullptr && api_->send_mail_w == nullptr)) {
    sign_on_failure_ = "MAPI32.DLL lacks MAPILogon or MAPISendMail";
    SignOff();
    return false;
  }

  // The profile name and password go over in the ANSI code page (MAPILogon
  // has no Unicode form). Empty values are passed as null, which the API
  // documents as "none given"; no UI flag, so the client never asks.
  std::string profile = EncodeSystemText(user_name);
  std::string secret = EncodeSystemText(password);
  LHANDLE session = 0;
  ULONG result = api_->logon(0, profile.empty() ? nullptr : Mutable(profile),
                             secret.empty() ? nullptr : Mutable(secret), 0, 0, &session);
  SecureZeroMemory(secret.data(), secret.size());
  if (result != SUCCESS_SUCCESS) {
    sign_on_failure_ = MapiErrorReason(result);
    SignOff();
    return false;
  }
  api_->session = session;
  api_->signed_on = true;
  sign_on_failure_.clear();
  return true;
}

SendResult MapiTransport::Send(const OutgoingMessage& message) {
  SendResult out;
  if (!api_->signed_on) {
    out.reason = "not signed on";
    return out;
  }
  // The address goes to the client exactly as the list gives it, with no
  // address type added: the client resolves a plain address itself.
  const std::string& address = message.recipient_address;
  ULONG result;
  if (api_->send_mail_w != nullptr) {
    std::wstring name = Utf8ToWide(message.recipient_name);
    std::wstring wide_address = Utf8ToWide(address);
    std::wstring subject = Utf8ToWide(message.subject);
    std::wstring text = Utf8ToWide(message.text);
    RecipDescW recipient{};
    recipient.ulRecipClass = MAPI_TO;
    recipient.lpszName = Mutable(name);
    recipient.lpszAddress = Mutable(wide_address);
    MessageW mail{};
    mail.lpszSubject = Mutable(subject);
    mail.lpszNoteText = Mutable(text);
    mail.nRecipCount = 1;
    mail.lpRecips = &recipient;
    result = api_->send_mail_w(api_->session, 0, &mail, 0, 0);
  } else {
    std::string name = EncodeSystemText(message.recipient_name);
    std::string ansi_address = EncodeSystemText(address);
    std::string subject = EncodeSystemText(message.subject);
    std::string text = EncodeSystemText(message.text);
    MapiRecipDesc recipient{};
    recipient.ulRecipClass = MAPI_TO;
    recipient.lpszName = Mutable(name);
    recipient.lpszAddress = Mutable(ansi_address);
    MapiMessage mail{};
    mail.lpszSubject = Mutable(subject);
    mail.lpszNoteText = Mutable(text);
    mail.nRecipCount = 1;
    mail.lpRecips = &recipient;
    result = api_->send_mail(api_->session, 0, &mail, 0, 0);
  }
  if (result == SUCCESS_SUCCESS) {
    out.sent = true;
  } else {
    out.reason = MapiErrorReason(result);
  }
  return out;
}

void MapiTransport::SignOff() {
  if (api_->signed_on && api_->logoff != nullptr) api_->logoff(api_->session, 0, 0, 0);
  if (api_->module != nullptr) FreeLibrary(api_->module);
  *api_ = Api{};
}

std::string MapiErrorReason(unsigned long code) {
  struct Name {
    unsigned long code;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {MAPI_E_USER_ABORT, "MAPI_E_USER_ABORT"},
      {MAPI_E_FAILURE, "MAPI_E_FAILURE"},
      {MAPI_E_LOGIN_FAILURE, "MAPI_E_LOGIN_FAILURE"},
      {MAPI_E_DISK_FULL, "MAPI_E_DISK_FULL"},
      {MAPI_E_INSUFFICIENT_MEMORY, "MAPI_E_INSUFFICIENT_MEMORY"},
      {MAPI_E_ACCESS_DENIED, "MAPI_E_ACCESS_DENIED"},
      {MAPI_E_TOO_MANY_SESSIONS, "MAPI_E_TOO_MANY_SESSIONS"},
      {MAPI_E_TOO_MANY_FILES, "MAPI_E_TOO_MANY_FILES"},
      {MAPI_E_TOO_MANY_RECIPIENTS, "MAPI_E_TOO_MANY_RECIPIENTS"},
      {MAPI_E_ATTACHMENT_NOT_FOUND, "MAPI_E_ATTACHMENT_NOT_FOUND"},
      {MAPI_E_ATTACHMENT_OPEN_FAILURE, "MAPI_E_ATTACHMENT_OPEN_FAILURE"},
      {MAPI_E_ATTACHMENT_WRITE_FAILURE, "MAPI_E_ATTACHMENT_WRITE_FAILURE"},
      {MAPI_E_UNKNOWN_RECIPIENT, "MAPI_E_UNKNOWN_RECIPIENT"},
      {MAPI_E_BAD_RECIPTYPE, "MAPI_E_BAD_RECIPTYPE"},
      {MAPI_E_NO_MESSAGES, "MAPI_E_NO_MESSAGES"},
      {MAPI_E_INVALID_MESSAGE, "MAPI_E_INVALID_MESSAGE"},
      {MAPI_E_TEXT_TOO_LARGE, "MAPI_E_TEXT_TOO_LARGE"},
      {MAPI_E_INVALID_SESSION, "MAPI_E_INVALID_SESSION"},
      {MAPI_E_TYPE_NOT_SUPPORTED, "MAPI_E_TYPE_NOT_SUPPORTED"},
      {MAPI_E_AMBIGUOUS_RECIPIENT, "MAPI_E_AMBIGUOUS_RECIPIENT"},
      {MAPI_E_MESSAGE_IN_USE, "MAPI_E_MESSAGE_IN_USE"},
      {MAPI_E_NETWORK_FAILURE, "MAPI_E_NETWORK_FAILURE"},
      {MAPI_E_INVALID_EDITFIELDS, "MAPI_E_INVALID_EDITFIELDS"},
      {MAPI_E_INVALID_RECIPS, "MAPI_E_INVALID_RECIPS"},
      {MAPI_E_NOT_SUPPORTED, "MAPI_E_NOT_SUPPORTED"},
  };
  std::string number = std::to_string(code);
  for (const Name& entry : kNames) {
    if (entry.code == code) return std::string(entry.name) + " (" + number + ")";
  }
  return "MAPI error (" + number + ")";
}

}  // namespace pinemail
