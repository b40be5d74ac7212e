// Writes each message as a numbered .eml file, whole or not at all.
#include "mail/local/outbox_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "mail/message/message_writer.h"
#include "mail/net/os_support.h"
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

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove(PathFromUtf8(path), ignored);
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
bool WriteAndClose(File file, const std::string& bytes, std::string* reason) {
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  ok = std::fflush(file.get()) == 0 && ok;
  if (!ok) *reason = ErrnoText(errno);
  if (!CloseFile(std::move(file)) && ok) {
    *reason = ErrnoText(errno);
    ok = false;
  }
  return ok;
}

}  // namespace

OutboxTransport::OutboxTransport(std::string folder_path, Mailbox from, MessageStamps stamps)
    : folder_(std::move(folder_path)), from_(std::move(from)), stamps_(std::move(stamps)) {
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

MailResult OutboxTransport::SignOn(const std::string&, const std::string&) {
  std::string reason;
  if (!MakeFolders(folder_, &reason)) return MailResult::Failed(reason);
  if (!IsFolder(folder_)) return MailResult::Failed("フォルダではありません");
  // A probe file shows that messages can be created here before any is sent.
  std::string probe;
  if (!WriteTemporary(std::string(), &probe, &reason)) return MailResult::Failed(reason);
  RemoveQuietly(probe);
  FindNextNumber();
  return MailResult::Done();
}

void OutboxTransport::FindNextNumber() {
  // Names of digits compare as their bytes do: "2" after "10", "9" before
  // "90". The next name must sort after the last of them.
  std::string last;
  std::error_code error;
  for (fs::directory_iterator it(PathFromUtf8(folder_), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
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
    if (!WriteAndClose(std::move(created.file), bytes, reason)) {
      RemoveQuietly(*temp_path);
      return false;
    }
    return true;
  }
  *reason = "空いている一時ファイル名が見つかりません";
  return false;
}

MailResult OutboxTransport::Send(const OutgoingMessage& message) {
  if (!IsPlainAddress(message.recipient_address)) {
    return MailResult::Failed(std::string(kBadAddressReason));
  }
  if (next_number_.empty()) FindNextNumber();

  const MessageFields fields = FieldsFor(message, from_, stamps_);

  std::string temp_path;
  std::string reason;
  if (!WriteTemporary(WriteMessage(fields, "\r\n"), &temp_path, &reason)) {
    return MailResult::Failed(reason);
  }

  // Another program may add files at any moment: the rename never replaces
  // one, and a name taken meanwhile sends this message past everything there.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = folder_ + next_number_ + std::string(kExtension);
    const RenameStatus status = RenameWithoutReplacing(temp_path, path, &reason);
    if (status == RenameStatus::kRenamed) {
      next_number_ = NextNumber(next_number_);
      return MailResult::Done(fields.message_id);
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
  if (reason.empty()) reason = "空いているファイル名が見つかりません";
  RemoveQuietly(temp_path);
  return MailResult::Failed(reason);
}

}  // namespace pinemail
