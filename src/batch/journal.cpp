// The journal's lines, its reader and its writer.
#include "batch/journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "batch/run_log.h"
#include "text/codepage.h"
#include "text/system_random.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::string_view kVersionTag = "pmj2";
constexpr std::string_view kLineBytesTag = "pmj1";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kStartWord = "start";
constexpr std::string_view kSentWord = "sent";
constexpr std::string_view kNoMessageId = "-";
// A longer line is nothing this program wrote (a path of 32,767 UTF-16
// units escapes to well under this).
constexpr std::size_t kLineLimit = 1 << 20;

constexpr char kHexDigits[] = "0123456789abcdef";

void Escape(std::string_view text, std::string* out) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t code_point = 0;
    const std::size_t length = DecodeCodePoint(text, pos, &code_point);
    const auto byte = static_cast<unsigned char>(text[pos]);
    const bool not_utf8 = length == 1 && byte >= 0x80;
    if (byte == '\\') {
      *out += "\\\\";
    } else if (byte == '\t') {
      *out += "\\t";
    } else if (byte == '\n') {
      *out += "\\n";
    } else if (byte == '\r') {
      *out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F || not_utf8) {
      *out += "\\x";
      *out += kHexDigits[byte >> 4];
      *out += kHexDigits[byte & 15];
    } else {
      out->append(text.substr(pos, length));
    }
    pos += length;
  }
}

// The inverse of Escape; false for a raw control or an escape it does not write.
bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        *out += '\\';
        break;
      case 't':
        *out += '\t';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (ec != std::errc() || end != text.data() + i + 3) return false;
        *out += static_cast<char>(value);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool IsRunId(std::string_view text) {
  std::uint64_t ignored = 0;
  return ParseHex64(text, &ignored);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

// A sent line's time: decimal digits only.
bool ReadSeconds(std::string_view text, std::int64_t* seconds) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *seconds);
  return !text.empty() && text.front() != '-' && ec == std::errc() &&
         end == text.data() + text.size();
}

std::string_view TagOf(IdentityScheme scheme) {
  return scheme == IdentityScheme::kRecordText ? kVersionTag : kLineBytesTag;
}

}  // namespace

std::string FormatJournalLine(const JournalEntry& entry) {
  std::string line(TagOf(entry.scheme));
  line += '\t';
  const bool sent = entry.kind == JournalEntry::Kind::kSent;
  line += sent ? kSentWord : kStartWord;
  line += '\t';
  Escape(entry.run_id, &line);
  line += '\t';
  if (sent) {
    line += Hex64(entry.record.line_hash);
    line += '\t';
    line += std::to_string(entry.record.occurrence);
    line += '\t';
    if (entry.message_id.empty()) {
      line += kNoMessageId;
    } else if (entry.message_id == kNoMessageId) {
      line += "\\x2d";  // an id of one "-" is not the absence of one
    } else {
      Escape(entry.message_id, &line);
    }
    line += '\t';
    if (entry.sent_at >= 0) line += std::to_string(entry.sent_at) + '\t';
  }
  Escape(entry.list_path, &line);
  line += '\n';
  return line;
}

bool ParseJournalLine(std::string_view line, JournalEntry* entry) {
  const std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() < 4 || (fields[0] != kVersionTag && fields[0] != kLineBytesTag) ||
      !IsRunId(fields[2])) {
    return false;
  }
  JournalEntry parsed;
  parsed.scheme =
      fields[0] == kVersionTag ? IdentityScheme::kRecordText : IdentityScheme::kLineBytes;
  parsed.run_id = std::string(fields[2]);
  if (fields[1] == kStartWord && fields.size() == 4) {
    parsed.kind = JournalEntry::Kind::kStart;
  } else if (fields[1] == kSentWord && (fields.size() == 7 || fields.size() == 8)) {
    parsed.kind = JournalEntry::Kind::kSent;
    const std::string_view occurrence = fields[4];
    const auto [end, ec] = std::from_chars(occurrence.data(), occurrence.data() + occurrence.size(),
                                           parsed.record.occurrence);
    if (!ParseHex64(fields[3], &parsed.record.line_hash) || occurrence.empty() ||
        ec != std::errc() || end != occurrence.data() + occurrence.size()) {
      return false;
    }
    if (fields[5] != kNoMessageId &&
        (fields[5].empty() || !Unescape(fields[5], &parsed.message_id))) {
      return false;
    }
    if (fields.size() == 8 && !ReadSeconds(fields[6], &parsed.sent_at)) return false;
  } else {
    return false;
  }
  if (fields.back().empty() || !Unescape(fields.back(), &parsed.list_path)) return false;
  *entry = std::move(parsed);
  return true;
}

JournalScan::JournalScan(std::string list_path)
    : list_path_(std::move(list_path)), file_name_(FileNameOf(list_path_)) {}

void JournalScan::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    // The LF of a CR LF, perhaps in the next piece, ends no second line.
    if (after_cr_) {
      after_cr_ = false;
      if (bytes.front() == '\n') {
        bytes.remove_prefix(1);
        continue;
      }
    }
    const std::size_t end = bytes.find_first_of("\r\n");
    const std::string_view piece = bytes.substr(0, end);
    if (!overlong_) {
      if (partial_.size() + piece.size() > kLineLimit) {
        overlong_ = true;
        partial_.clear();
      } else {
        partial_.append(piece);
      }
    }
    if (end == std::string_view::npos) return;
    after_cr_ = bytes[end] == '\r';
    bytes.remove_prefix(end + 1);
    EndLine();
  }
}

void JournalScan::EndLine() {
  ++line_number_;
  if (overlong_) {
    Bad();
  } else {
    TakeLine(partial_);
  }
  overlong_ = false;
  partial_.clear();
}

void JournalScan::Bad() {
  if (bad_lines_++ == 0) first_bad_line_ = line_number_;
}

void JournalScan::TakeLine(std::string_view line) {
  if (line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
  if (line.empty()) return;
  JournalEntry entry;
  if (!ParseJournalLine(line, &entry)) return Bad();
  if (entry.kind == JournalEntry::Kind::kSent && entry.sent_at >= 0) {
    sent_times_.push_back(entry.sent_at);
  }
  // Most lines name the same path as the line before: its name is judged once.
  if (entry.list_path != last_path_) {
    last_path_ = entry.list_path;
    last_path_matches_ = SameFileName(FileNameOf(last_path_), file_name_);
  }
  if (!last_path_matches_) return;
  const auto [place, added] = index_.try_emplace(entry.run_id, runs_.size());
  if (added) {
    runs_.emplace_back().run_id = entry.run_id;
    runs_.back().scheme = entry.scheme;
  }
  JournalRun& run = runs_[place->second];
  // A run keeps the scheme it started with; one pmj1 line says which.
  if (entry.scheme == IdentityScheme::kLineBytes) run.scheme = entry.scheme;
  run.same_path = run.same_path || entry.list_path == list_path_;
  run.newest_line = line_number_;
  if (entry.kind == JournalEntry::Kind::kSent) run.sent.push_back(entry.record);
}

std::vector<JournalRun> JournalScan::Finish() {
  // A last line without its end was cut short (a full disk): not trusted.
  if (overlong_ || !partial_.empty()) {
    ++line_number_;
    Bad();
  }
  overlong_ = false;
  partial_.clear();
  for (JournalRun& run : runs_) {
    std::sort(run.sent.begin(), run.sent.end());
    run.sent.erase(std::unique(run.sent.begin(), run.sent.end()), run.sent.end());
  }
  index_.clear();
  return std::move(runs_);
}

bool ResumePoint::WasSent(const RecordIdentity& record) const {
  return std::binary_search(sent.begin(), sent.end(), record);
}

ResumeSearch::ResumeSearch(std::vector<JournalRun> runs) {
  for (JournalRun& run : runs) {
    auto& seen = seen_[static_cast<int>(run.scheme)];
    for (const RecordIdentity& record : run.sent) seen.emplace(record.line_hash, 0);
    const std::size_t sent = run.sent.size();
    candidates_.push_back(Candidate{std::move(run), std::vector<bool>(sent), 0});
  }
}

bool ResumeSearch::NeedsLineBytes() const {
  return std::any_of(candidates_.begin(), candidates_.end(), [](const Candidate& candidate) {
    return candidate.run.scheme == IdentityScheme::kLineBytes;
  });
}

// Only the texts some candidate sent are counted, so that memory follows
// the journal, not the list.
void ResumeSearch::Record(std::string_view record_text, std::string_view line_bytes) {
  for (const IdentityScheme scheme : {IdentityScheme::kRecordText, IdentityScheme::kLineBytes}) {
    auto& seen = seen_[static_cast<int>(scheme)];
    if (seen.empty()) continue;
    const auto counted = seen.find(LineHash(IdentityText(scheme, record_text, line_bytes)));
    if (counted == seen.end()) continue;
    const RecordIdentity record{counted->first, counted->second++};
    for (Candidate& candidate : candidates_) {
      if (candidate.run.scheme == scheme) Find(candidate, record);
    }
  }
}

void ResumeSearch::Find(Candidate& candidate, const RecordIdentity& record) {
  const std::vector<RecordIdentity>& sent = candidate.run.sent;
  const auto at = std::lower_bound(sent.begin(), sent.end(), record);
  if (at == sent.end() || *at != record) return;
  const auto index = static_cast<std::size_t>(at - sent.begin());
  if (!candidate.found[index]) {
    candidate.found[index] = true;
    ++candidate.found_count;
  }
}

ResumePoint ResumeSearch::Choose() {
  ResumePoint point;
  if (candidates_.empty()) return point;
  Candidate* chosen = nullptr;
  for (Candidate& candidate : candidates_) {
    const bool other_list =
        !candidate.run.sent.empty() && candidate.found_count * 2 <= candidate.run.sent.size();
    if (other_list) continue;
    const auto rank = [](const Candidate& c) {
      return std::pair(c.run.same_path, c.run.newest_line);
    };
    if (chosen == nullptr || rank(*chosen) < rank(candidate)) chosen = &candidate;
  }
  if (chosen == nullptr) {
    point.missing = ResumePoint::Missing::kOtherRecords;
    return point;
  }
  point.missing = ResumePoint::Missing::kNone;
  point.run_id = chosen->run.run_id;
  point.scheme = chosen->run.scheme;
  point.sent = std::move(chosen->run.sent);
  return point;
}

bool JournalFile::Open(const std::string& path, std::string* reason) {
  bool in_use = false;
  file_ = OpenRegularSoleWriter(path, reason, &in_use);
  if (!file_) {
    if (in_use) *reason = std::string(kLogInUseReason);
    return false;
  }
  if (std::fseek(file_.get(), -1, SEEK_END) == 0) {
    const int last = std::fgetc(file_.get());
    needs_line_end_ = last != EOF && last != '\n' && last != '\r';
  }
  return true;
}

bool JournalFile::Read(JournalScan* scan, std::string* reason) {
  std::clearerr(file_.get());
  if (std::fseek(file_.get(), 0, SEEK_SET) != 0) {
    *reason = ErrnoText(errno);
    return false;
  }
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file_.get());
    scan->Feed(std::string_view(buffer.data(), got));
    if (got < buffer.size()) break;
  }
  if (std::ferror(file_.get()) != 0) {
    *reason = "読み込みに失敗しました";
    return false;
  }
  return true;
}

bool JournalFile::Append(const JournalEntry& entry, std::string* reason) {
  std::string line(needs_line_end_ ? "\n" : "");
  line += FormatJournalLine(entry);
  if (!AppendWhole(file_.get(), line, reason)) return false;
  needs_line_end_ = false;
  return true;
}

std::string JournalListPath(const std::string& list_path) {
  std::error_code error;
  const std::filesystem::path canonical =
      std::filesystem::weakly_canonical(PathFromUtf8(list_path), error);
  if (error || canonical.empty()) return list_path;
  return Utf8FromPath(canonical);
}

std::string FileNameOf(std::string_view path) {
  return Utf8FromPath(PathFromUtf8(path).filename());
}

std::string NewRunId() { return Hex64(SystemRandom64()); }

}  // namespace pinemail
