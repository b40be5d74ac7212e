// The run log, pinemail.log: its fixed lines and labels, the blocks a run
// writes into it, and the file itself, held by one run at a time and written
// one whole block at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "merge/record.h"
#include "text/file_io.h"

namespace pinemail {

// The log's line when sign-on failed.
inline constexpr std::string_view kSignOnFailedLine = "ログインに失敗しました。";
inline constexpr std::string_view kEmptyListLine = "指定のファイルは空です。";
inline constexpr std::string_view kNotRecognisedLine =
    "指定のファイルは pinemail.exe 用であるとは認識できませんでした。";
// The reason in the open-failure warning when another run holds the log.
inline constexpr std::string_view kLogInUseReason = "別の実行が使用中です";

// The lines of one log block, collected in memory so that the block reaches
// the file in one write and a crash never leaves half a line behind. A value
// from outside (a field of the list, a subject, a setting) has its controls
// blanked, so that it cannot end its line and forge another.
class LogBlock {
 public:
  // A line of the program's own text.
  LogBlock& Line(std::string_view text = {});
  // A label and a value from outside.
  LogBlock& Line(std::string_view label, std::string_view value);
  // A rule of 57 `mark` characters.
  LogBlock& Rule(char mark);

  // The head of a run: a rule of "*", the time, empty lines around it.
  LogBlock& RunHeader(std::string_view timestamp);
  // The user name and the password's mask, then an empty line.
  LogBlock& Credentials(std::string_view user_name, std::string_view password_mask);
  // A record's address, display name and template name.
  LogBlock& Record(const RecipientRecord& record);
  // How a record ended: sent, rejected for want of data, or failed to send
  // with the transport's (already cleaned) reason.
  LogBlock& Sent(std::string_view subject);
  // Not sent again: the run it resumes sent it. The subject line comes
  // first when the template could be read (null otherwise).
  LogBlock& SentBefore(const std::string* subject);
  // Rejected; `reason` (empty: none) says what the record lacks beyond
  // its data, such as a file it names that cannot be attached.
  LogBlock& Rejected(std::string_view reason = {});
  LogBlock& SendFailed(std::string_view subject, std::string_view reason);
  // Sign-on failed, for `reason` (already cleaned; empty: the fixed line alone).
  LogBlock& SignOnFailed(std::string_view reason);
  // The run stops early after this record, for `reason`.
  LogBlock& Stopped(std::string_view reason);

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The open log of one run.
class RunLog {
 public:
  // Opens `path` for this run alone (OpenSoleWriter): a run started
  // meanwhile finds it in use and stops at the open, so that two runs'
  // blocks never interleave. False with `failure` filled when it could not
  // be opened.
  bool Open(const std::string& path, OpenFailure* failure);

  // Appends `block` in the system's code page in one write that reaches the
  // file at once, so that a crash loses at most the record in flight; a block
  // the file took only part of is taken back whole. False, with error()
  // saying why, when the block did not reach the file.
  bool Write(const LogBlock& block);

  // Why the last write failed; empty while every write succeeded.
  const std::string& error() const { return error_; }

 private:
  File file_;
  std::string error_;
};

}  // namespace pinemail
