// Writes each message as a numbered .eml file, whole or not at all.
#include "batch/outbox_transport.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "batch/os_support.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".eml";
constexpr int kTemporaryAttempts = 1000;

fs::path NativePath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove(NativePath(path), ignored);
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(NativePath(path), ignored));
}

// The number of a final name ("00000042.eml" gives 42); false for any other
// name, such as temporary files or files the user put there.
bool NumberOfName(std::string_view name, std::uint64_t* number) {
  if (name.size() <= kExtension.size() || !name.ends_with(kExtension)) return false;
  std::string_view digits = name.substr(0, name.size() - kExtension.size());
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, *number);
  return error == std::errc() && stop == end && digits.front() != '+';
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

std::string OutboxTransport::FileName(std::uint64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%08llu", static_cast<unsigned long long>(number));
  return name + std::string(kExtension);
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
  std::uint64_t highest = 0;
  std::error_code error;
  for (fs::directory_iterator it(NativePath(folder_), error), end; !error && it != end;
       it.increment(error)) {
    std::u8string name = it->path().filename().u8string();
    std::uint64_t number = 0;
    if (NumberOfName(std::string(name.begin(), name.end()), &number) && number > highest) {
      highest = number;
    }
  }
  next_number_ = highest + 1;
  numbered_ = true;
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
  if (!numbered_) FindNextNumber();

  const MessageFields fields = FieldsFor(message, from_);

  std::string temp_path;
  if (!WriteTemporary(WriteMessage(fields, "\r\n"), &temp_path, &result.reason)) return result;

  // Another program may have added files since the folder was looked at;
  // never replace one of them.
  while (Exists(folder_ + FileName(next_number_))) ++next_number_;
  if (!RenameFile(temp_path, folder_ + FileName(next_number_), &result.reason)) {
    RemoveQuietly(temp_path);
    return result;
  }
  ++next_number_;
  result.sent = true;
  return result;
}

}  // namespace pinemail
