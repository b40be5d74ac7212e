// Writes each message as a numbered .eml file, whole or not at all.
#include "mail/outbox_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "mail/os_support.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".eml";
constexpr std::string_view kFirstNumber = "00000001";
constexpr int kTemporaryAttempts = 1000;
// Names tried for one message; only writers that keep racing this one for
// every name could use them up.
constexpr int kNameAttempts = 1000;

fs::path NativePath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove(NativePath(path), ignored);
}

// The number of a final name ("00000042.eml" gives "00000042"); empty for any
// other name, such as temporary files or files the user put there.
std::string_view NumberOfName(std::string_view name) {
  if (name.size() <= kExtension.size() || !name.ends_with(kExtension)) return {};
  std::string_view digits = name.substr(0, name.size() - kExtension.size());
  const bool all_digits =
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  return all_digits ? digits : std::string_view();
}

// Writes all of `bytes` and closes `file`; false with the system's reason
// when any step failed (a full disk shows at the flush or the close).
bool WriteAndClose(std::FILE* file, const std::string& bytes, std::string* reason) {
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fflush(file) == 0 && ok;
  if (!ok) *reason = std::strerror(errno);
  if (std::fclose(file) != 0 && ok) {
    *reason = std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace

OutboxTransport::OutboxTransport(std::string folder_path, Mailbox from)
    : folder_(std::move(folder_path)), from_(std::move(from)) {
  // "/" separates folders on Windows too.
  if (!folder_.empty() && !folder_.ends_with('/') && !folder_.ends_with('\\')) folder_ += '/';
}

std::string OutboxTransport::NextNumber(std::string_view number) {
  std::string next(number);
  // Add one from the right; a carry out of the top means all nines.
  for (auto digit = next.rbegin(); digit != next.rend(); ++digit) {
    if (*digit != '9') {
      ++*digit;
      return next;
    }
    *digit = '0';
  }
  // All nines: a longer name that begins with them sorts right after them.
  return std::string(number) + std::string(kFirstNumber);
}

bool OutboxTransport::SignOn(const std::string&, const std::string&) {
  sign_on_error_.clear();
  if (!MakeFolders(folder_, &sign_on_error_)) return false;
  if (!IsFolder(folder_)) {
    sign_on_error_ = "not a folder";
    return false;
  }
  // A probe file shows that messages can be created here before any is sent.
  std::string probe;
  if (!WriteTemporary(std::string(), &probe, &sign_on_error_)) return false;
  RemoveQuietly(probe);
  FindNextNumber();
  return true;
}

void OutboxTransport::FindNextNumber() {
  // Names of digits compare as their bytes do: "2" after "10", "9" before
  // "90". The next name must sort after the last of them.
  std::string last;
  std::error_code error;
  for (fs::directory_iterator it(NativePath(folder_), error), end; !error && it != end;
       it.increment(error)) {
    const std::u8string utf8_name = it->path().filename().u8string();
    const std::string name(utf8_name.begin(), utf8_name.end());
    const std::string_view number = NumberOfName(name);
    if (number > last) last = std::string(number);
  }
  next_number_ = last.empty() ? std::string(kFirstNumber) : NextNumber(last);
}

bool OutboxTransport::WriteTemporary(const std::string& bytes, std::string* temp_path,
                                     std::string* reason) {
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    *temp_path = folder_ + ".pinemail-" + std::to_string(CurrentProcessId()) + "-" +
                 std::to_string(++temp_counter_) + ".tmp";
    CreatedFile created = CreateNewFile(*temp_path);
    if (created.status == CreateStatus::kExists) continue;
    if (created.status == CreateStatus::kFailed) {
      *reason = created.reason;
      return false;
    }
    if (!WriteAndClose(created.file, bytes, reason)) {
      RemoveQuietly(*temp_path);
      return false;
    }
    return true;
  }
  *reason = "no free temporary file name";
  return false;
}

SendResult OutboxTransport::Send(const OutgoingMessage& message) {
  SendResult result;
  if (!IsPlainAddress(message.recipient_address)) {
    result.reason = std::string(kBadAddressReason);
    return result;
  }
  if (next_number_.empty()) FindNextNumber();

  const MessageFields fields = FieldsFor(message, from_);

  std::string temp_path;
  if (!WriteTemporary(WriteMessage(fields, "\r\n"), &temp_path, &result.reason)) return result;

  // Another program may add files at any moment: the rename never replaces
  // one, and a name taken meanwhile sends this message past everything there.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = folder_ + next_number_ + std::string(kExtension);
    const RenameStatus status = RenameWithoutReplacing(temp_path, path, &result.reason);
    if (status == RenameStatus::kRenamed) {
      next_number_ = NextNumber(next_number_);
      result.sent = true;
      return result;
    }
    if (status == RenameStatus::kFailed) break;
    // Taken meanwhile. The first time, look at the folder afresh and go past
    // everything in it; after that another writer is racing this one, and
    // the next name is as good and found without reading the folder again.
    if (attempt == 0) {
      FindNextNumber();
    } else {
      next_number_ = NextNumber(next_number_);
    }
  }
  if (result.reason.empty()) result.reason = "空いているファイル名が見つかりません";
  RemoveQuietly(temp_path);
  return result;
}

}  // namespace pinemail
