// Simple MAPI transport: MAPI32.DLL from the system folder, no dialogs.
#include "mail/local/mapi_transport_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "merge/rich_message.h"
#include "text/codepage.h"
#include "text/scoped_win32.h"
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

// The path and the shown name of each file a message carries, in the
// character type of the call that takes them.
template <typename Text>
struct FileTexts {
  std::vector<Text> paths;
  std::vector<Text> names;
};

FileTexts<std::wstring> WideFileTexts(const OutgoingMessage& message) {
  FileTexts<std::wstring> texts;
  for (const auto& file : FilesOf(message)) {
    texts.paths.push_back(Utf8ToWide(file->path));
    texts.names.push_back(Utf8ToWide(file->name));
  }
  return texts;
}

// `path` as the ANSI call can open it: as it is where the code page spells
// every character, else in its short form, which names the same file. A
// character the code page lacks would otherwise become "?" or a look-alike
// and name no file, or another one.
bool AnsiPath(const std::string& path, std::string* ansi) {
  const std::wstring wide = Utf8ToWide(path);
  if (WideToAnsi(wide, ansi)) return true;
  const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring short_path(size, L'\0');
  const DWORD length = GetShortPathNameW(wide.c_str(), short_path.data(), size);
  if (length == 0 || length >= size) return false;
  short_path.resize(length);
  return WideToAnsi(short_path, ansi);
}

// The name a file is shown under in the ANSI code page. A character the
// code page lacks becomes "_", not "?": no file name may hold a "?", and a
// client that saves the attachment under its name would fail on one.
std::string AnsiFileName(const std::string& name) {
  std::string ansi = EncodeSystemText(name);
  std::replace(ansi.begin(), ansi.end(), '?', '_');
  return ansi;
}

// The files' texts for MAPISendMail; false, with the reason, when a path has
// no form the ANSI code page can spell (no short name either).
bool AnsiFileTexts(const OutgoingMessage& message, FileTexts<std::string>* texts,
                   std::string* reason) {
  for (const auto& file : FilesOf(message)) {
    std::string path;
    if (!AnsiPath(file->path, &path)) {
      *reason = "添付ファイルのパスをシステムの文字コードで表せません: " + file->path;
      return false;
    }
    texts->paths.push_back(std::move(path));
    texts->names.push_back(AnsiFileName(file->name));
  }
  return true;
}

// The file descriptions over `texts`: attached by path, under the name the
// reader sees, none placed in the text. Simple MAPI declares the text
// members non-const; the texts are writable copies that outlive the call.
template <typename FileDesc, typename Text>
std::vector<FileDesc> FileDescriptions(FileTexts<Text>& texts) {
  std::vector<FileDesc> descriptions;
  for (std::size_t i = 0; i < texts.paths.size(); ++i) {
    FileDesc description{};
    description.nPosition = static_cast<ULONG>(-1);
    description.lpszPathName = texts.paths[i].data();
    description.lpszFileName = texts.names[i].data();
    descriptions.push_back(description);
  }
  return descriptions;
}

// Sends `message` through `send` (MAPISendMailW or MAPISendMail), its texts
// made into the call's character type by `convert`, its files given by
// `files`. It has no HTML: the text is the body, and the images of the HTML
// part go as files with the attachments.
template <typename RecipDesc, typename Message, typename FileDesc, typename SendFn,
          typename Convert, typename Text>
ULONG SendThrough(SendFn send, LHANDLE session, const OutgoingMessage& message, Convert convert,
                  FileTexts<Text>& files) {
  auto name = convert(message.recipient_name);
  // The address goes to the client exactly as the list gives it, with no
  // address type added: the client resolves a plain address itself.
  auto address = convert(message.recipient_address);
  auto subject = convert(message.subject);
  auto text = convert(message.text);
  std::vector<FileDesc> descriptions = FileDescriptions<FileDesc>(files);
  RecipDesc recipient{};
  recipient.ulRecipClass = MAPI_TO;
  recipient.lpszName = name.data();
  recipient.lpszAddress = address.data();
  Message mail{};
  mail.lpszSubject = subject.data();
  mail.lpszNoteText = text.data();
  mail.nRecipCount = 1;
  mail.lpRecips = &recipient;
  mail.nFileCount = static_cast<ULONG>(descriptions.size());
  mail.lpFiles = descriptions.empty() ? nullptr : descriptions.data();
  return send(session, 0, &mail, 0, 0);
}

// A failed logon: the log keeps its fixed line, as the mail client's own
// sign-on failure always had it; the reason is for a person watching.
MailResult LogonFailed(std::string reason) {
  MailResult result = MailResult::Failed(std::move(reason));
  result.reason_logged = false;
  return result;
}

}  // namespace

// The loaded DLL, its entry points and the session; logs off before the DLL
// is freed.
struct MapiTransport::Api {
  ScopedLibrary module;
  LogonFn logon = nullptr;
  LogoffFn logoff = nullptr;
  SendMailFn send_mail = nullptr;
  SendMailWFn send_mail_w = nullptr;
  LHANDLE session = 0;
  bool signed_on = false;

  Api() = default;
  Api(const Api&) = delete;
  Api& operator=(const Api&) = delete;
  ~Api() {
    if (signed_on && logoff != nullptr) logoff(session, 0, 0, 0);
  }
};

MapiTransport::MapiTransport() = default;

MapiTransport::~MapiTransport() = default;

MailResult MapiTransport::SignOn(const std::string& user_name, const std::string& password) {
  SignOff();
  auto api = std::make_unique<Api>();
  api->module.reset(LoadSystemMapi());
  if (!api->module) return LogonFailed("MAPI32.DLL を読み込めませんでした");
  HMODULE module = api->module.get();
  api->logon = Entry<LogonFn>(module, "MAPILogon");
  api->logoff = Entry<LogoffFn>(module, "MAPILogoff");
  api->send_mail = Entry<SendMailFn>(module, "MAPISendMail");
  api->send_mail_w = Entry<SendMailWFn>(module, "MAPISendMailW");
  if (api->logon == nullptr || (api->send_mail == nullptr && api->send_mail_w == nullptr)) {
    return LogonFailed("MAPI32.DLL に MAPILogon または MAPISendMail がありません");
  }

  // The profile name and password go over in the ANSI code page (MAPILogon
  // has no Unicode form). Empty values are passed as null, which the API
  // documents as "none given"; no UI flag, so the client never asks.
  std::string profile = EncodeSystemText(user_name);
  std::string secret = EncodeSystemText(password);
  LHANDLE session = 0;
  const ULONG result = api->logon(0, profile.empty() ? nullptr : profile.data(),
                                  secret.empty() ? nullptr : secret.data(), 0, 0, &session);
  SecureZeroMemory(secret.data(), secret.size());
  if (result != SUCCESS_SUCCESS) return LogonFailed(MapiErrorReason(result));
  api->session = session;
  api->signed_on = true;
  api_ = std::move(api);
  return MailResult::Done();
}

MailResult MapiTransport::Send(const OutgoingMessage& message) {
  if (!api_) return MailResult::Failed(std::string(kNotSignedOnReason));
  ULONG result = SUCCESS_SUCCESS;
  if (api_->send_mail_w != nullptr) {
    FileTexts<std::wstring> files = WideFileTexts(message);
    result = SendThrough<RecipDescW, MessageW, FileDescW>(api_->send_mail_w, api_->session, message,
                                                          Utf8ToWide, files);
  } else {
    FileTexts<std::string> files;
    std::string reason;
    if (!AnsiFileTexts(message, &files, &reason)) return MailResult::Failed(std::move(reason));
    result = SendThrough<MapiRecipDesc, MapiMessage, MapiFileDesc>(
        api_->send_mail, api_->session, message, EncodeSystemText, files);
  }
  if (result != SUCCESS_SUCCESS) return MailResult::Failed(MapiErrorReason(result));
  return MailResult::Done();
}

void MapiTransport::SignOff() { api_.reset(); }

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
  return "MAPI のエラー (" + number + ")";
}

}  // namespace pinemail
