// A recording stand-in for MAPI32.DLL: writes every call it receives to
// "mapi_calls.txt" beside the calling program and answers as
// "mapi_control.txt" there tells it to.
//
// Record lines are tab-separated "key=value" fields after the call's name.
// Texts are written as the hex of their bytes (the ANSI bytes for the A
// calls, UTF-8 for the W call) so that any byte survives; "-" is a null
// pointer. Each attached file is a "file=flags,position,path,name,content"
// field, its content the hex of the bytes read through the path as given
// ("-" when the path cannot be opened), as a mail client would read it.
//
// Control lines: "fail_logon" (MAPILogon returns MAPI_E_LOGIN_FAILURE),
// "fail_send=N" (the N-th send of the process returns MAPI_E_FAILURE),
// "send_code=C" (the code that failing send returns instead),
// "hold_first_send" (the first send of any process in the folder makes the
// folder "mapi_held" and waits until a file "mapi_go" appears there),
// "die_send=N" (the N-th send of the process is recorded, then the process
// is ended at once, as a kill would: the client took the message, the
// program never heard back).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using LHandle = ULONG_PTR;

struct RecipA {
  ULONG reserved;
  ULONG recip_class;
  char* name;
  char* address;
  ULONG eid_size;
  void* entry_id;
};

template <typename Char>
struct File {
  ULONG reserved, flags, position;
  Char *path, *name;
  void* type;
};

struct MessageA {
  ULONG reserved;
  char* subject;
  char* note_text;
  char* message_type;
  char* date_received;
  char* conversation_id;
  ULONG flags;
  RecipA* originator;
  ULONG recip_count;
  RecipA* recips;
  ULONG file_count;
  File<char>* files;
};

struct RecipW {
  ULONG reserved;
  ULONG recip_class;
  wchar_t* name;
  wchar_t* address;
  ULONG eid_size;
  void* entry_id;
};

struct MessageW {
  ULONG reserved;
  wchar_t* subject;
  wchar_t* note_text;
  wchar_t* message_type;
  wchar_t* date_received;
  wchar_t* conversation_id;
  ULONG flags;
  RecipW* originator;
  ULONG recip_count;
  RecipW* recips;
  ULONG file_count;
  File<wchar_t>* files;
};

constexpr ULONG kFailure = 2;
constexpr ULONG kLoginFailure = 3;
constexpr ULONG kNotSupported = 26;
constexpr LHandle kSession = 0x5150;

int send_count = 0;

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  std::size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"" : folder.substr(0, slash + 1);
}

std::string Hex(const char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Text(const char* text) {
  if (text == nullptr) return "-";
  return Hex(text, std::strlen(text));
}

[[maybe_unused]] std::string Text(const wchar_t* text) {
  if (text == nullptr) return "-";
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.resize(utf8.size() - 1);  // the terminating NUL
  return Hex(utf8.data(), utf8.size());
}

void Record(const std::string& line) {
  std::wstring path = ProgramFolder() + L"mapi_calls.txt";
  FILE* file = _wfopen(path.c_str(), L"ab");
  if (file == nullptr) return;
  std::fputs(line.c_str(), file);
  std::fputs("\n", file);
  std::fclose(file);
}

// The control file's value for `key` ("" when the line is "key" alone),
// or false when the key is absent.
bool Control(const char* key, std::string* value) {
  std::wstring path = ProgramFolder() + L"mapi_control.txt";
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  char line[256];
  bool found = false;
  std::string wanted = key;
  while (!found && std::fgets(line, sizeof line, file) != nullptr) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text == wanted) {
      found = true;
      value->clear();
    } else if (text.rfind(wanted + "=", 0) == 0) {
      found = true;
      *value = text.substr(wanted.size() + 1);
    }
  }
  std::fclose(file);
  return found;
}

std::string Number(unsigned long long value) { return std::to_string(value); }

FILE* OpenPath(const char* path) { return std::fopen(path, "rb"); }
[[maybe_unused]] FILE* OpenPath(const wchar_t* path) { return _wfopen(path, L"rb"); }

// The bytes behind `path` in hex, "-" when it cannot be opened.
template <typename Char>
std::string Content(const Char* path) {
  FILE* file = path == nullptr ? nullptr : OpenPath(path);
  if (file == nullptr) return "-";
  std::string bytes;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return Hex(bytes.data(), bytes.size());
}

template <typename File>
std::string Files(const File* files, ULONG count) {
  std::string out;
  for (ULONG i = 0; files != nullptr && i < count; ++i) {
    out += "\tfile=" + Number(files[i].flags) + "," + Number(files[i].position) + "," +
           Text(files[i].path) + "," + Text(files[i].name) + "," + Content(files[i].path);
  }
  return out;
}

template <typename Recip>
std::string Recipients(const Recip* recips, ULONG count) {
  std::string out;
  for (ULONG i = 0; i < count; ++i) {
    out += "\trecip=" + Number(recips[i].recip_class) + "," + Text(recips[i].name) + "," +
           Text(recips[i].address) + "," + Number(recips[i].eid_size);
  }
  return out;
}

template <typename Message>
ULONG RecordSend(const char* call, LHandle session, ULONG_PTR ui_param, const Message* message,
                 ULONG flags, ULONG reserved) {
  ++send_count;
  std::string line = std::string(call) + "\tsession=" + Number(session) +
                     "\tui=" + Number(ui_param) + "\tflags=" + Number(flags) +
                     "\treserved=" + Number(reserved);
  if (message == nullptr) {
    line += "\tmessage=-";
  } else {
    line += "\tsubject=" + Text(message->subject) + "\ttext=" + Text(message->note_text) +
            "\ttype=" + Text(message->message_type) + "\tmessage_flags=" + Number(message->flags) +
            "\toriginator=" + (message->originator == nullptr ? "-" : "set") +
            "\tfiles=" + Number(message->file_count) + "\trecips=" + Number(message->recip_count) +
            Recipients(message->recips, message->recip_count) +
            Files(message->files, message->file_count);
  }
  ULONG result = 0;
  std::string value;
  if (Control("hold_first_send", &value) &&
      CreateDirectoryW((ProgramFolder() + L"mapi_held").c_str(), nullptr)) {
    const std::wstring go = ProgramFolder() + L"mapi_go";
    while (GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(20);
  }
  if (Control("fail_send", &value) && std::to_string(send_count) == value) {
    std::string code;
    result = Control("send_code", &code) ? std::strtoul(code.c_str(), nullptr, 10) : kFailure;
  }
  Record(line + "\tresult=" + Number(result));
  if (Control("die_send", &value) && std::to_string(send_count) == value) {
    TerminateProcess(GetCurrentProcess(), 9);
  }
  return result;
}

}  // namespace

extern "C" {

ULONG WINAPI MAPILogon(ULONG_PTR ui_param, LPSTR profile, LPSTR password, ULONG flags,
                       ULONG reserved, LHandle* session) {
  std::string value;
  ULONG result = Control("fail_logon", &value) ? kLoginFailure : 0;
  if (result == 0 && session != nullptr) *session = kSession;
  Record("MAPILogon\tui=" + Number(ui_param) + "\tprofile=" + Text(profile) +
         "\tpassword=" + Text(password) + "\tflags=" + Number(flags) +
         "\treserved=" + Number(reserved) + "\tresult=" + Number(result));
  return result;
}

ULONG WINAPI MAPILogoff(LHandle session, ULONG_PTR ui_param, ULONG flags, ULONG reserved) {
  Record("MAPILogoff\tsession=" + Number(session) + "\tui=" + Number(ui_param) +
         "\tflags=" + Number(flags) + "\treserved=" + Number(reserved));
  return 0;
}

ULONG WINAPI MAPISendMail(LHandle session, ULONG_PTR ui_param, MessageA* message, ULONG flags,
                          ULONG reserved) {
  return RecordSend("MAPISendMail", session, ui_param, message, flags, reserved);
}

#ifndef MAPI_DOUBLE_ANSI_ONLY  // the second build: a client without the Unicode call
ULONG WINAPI MAPISendMailW(LHandle session, ULONG_PTR ui_param, MessageW* message, ULONG flags,
                           ULONG reserved) {
  return RecordSend("MAPISendMailW", session, ui_param, message, flags, reserved);
}
#endif

// The other Simple MAPI entry points exist so that a caller probing for them
// finds them, and refuse to work.
ULONG WINAPI MAPIResolveName(LHandle, ULONG_PTR, LPSTR, ULONG, ULONG, void**) {
  Record("MAPIResolveName");
  return kNotSupported;
}

ULONG WINAPI MAPIFreeBuffer(void*) { return 0; }

}  // extern "C"
