// The journal, pinemail.journal beside the log: which messages each run got
// out, so that `/resume` can run a list again without mailing anyone twice.
//
// Its lines, UTF-8 (the program's own file, whatever the code page), each
// ended by LF and written whole by one write, fields separated by TAB, a
// version tag first and the list's path last:
//
//   pmj1 TAB start TAB <run id> TAB <list path>
//       a run (or a resumed run) of the list starts sending
//   pmj1 TAB sent TAB <run id> TAB <line hash> TAB <occurrence> TAB <message id> TAB <list path>
//       the transport took the message of one record
//
// <run id>: 16 lower-case hex digits. <line hash>: FNV-1a 64 of the record's
// line as read (its bytes, before decoding), 16 lower-case hex digits.
// <occurrence>: which line of that text in the list it is, 0 for the first,
// in decimal. So a record keeps its identity when lines are inserted or a
// template is edited. <message id>: without angle brackets; "-" when the
// transport wrote none. <list path>: the list's full path. In the text
// fields "\" is written "\\", TAB "\t", LF "\n", CR "\r", and any other
// control or a byte that is not UTF-8 "\xHH", so that no field can break a
// line or another field and every path comes back byte for byte.
//
// A reader skips lines it cannot take (torn, foreign, of a later version)
// and counts them; a line without its LF is torn.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/file_io.h"

namespace pinemail {

inline constexpr std::string_view kJournalFileName = "pinemail.journal";

// A record's identity within its list.
struct RecordIdentity {
  std::uint64_t line_hash = 0;
  std::uint32_t occurrence = 0;

  auto operator<=>(const RecordIdentity&) const = default;
};

// FNV-1a 64 of a list line's bytes.
std::uint64_t LineHash(std::string_view raw_line);

// Gives each record line of a list its identity, the occurrence counted
// exactly. Survey sees every line of the list once beforehand (more lines
// than the records do no harm); only the texts that may occur more than
// once are then counted, so memory stays flat however long the list is.
class RecordCounter {
 public:
  RecordCounter();
  // A line of the list, before the run.
  void Survey(std::string_view raw_line);
  // The identity of the next record line, in list order.
  RecordIdentity Next(std::string_view raw_line);

 private:
  bool MaybeSeen(std::uint64_t hash) const;
  void Add(std::uint64_t hash);

  std::vector<std::uint64_t> seen_;  // a Bloom filter of the hashes surveyed
  std::unordered_map<std::uint64_t, std::uint32_t> repeated_;  // occurrences so far
};

struct JournalEntry {
  enum class Kind { kStart, kSent };
  Kind kind = Kind::kStart;
  std::string run_id;
  std::string list_path;
  RecordIdentity record;   // kSent
  std::string message_id;  // kSent; empty when the transport wrote none
};

// One journal line, its LF included.
std::string FormatJournalLine(const JournalEntry& entry);
// Parses one journal line (without its LF); false for anything not written
// by FormatJournalLine of this version.
bool ParseJournalLine(std::string_view line, JournalEntry* entry);

// What the journal says about the most recent run of one list.
struct ResumePoint {
  bool found = false;                // the journal names a run of the list
  std::string run_id;                // the latest start line's run
  std::vector<RecordIdentity> sent;  // sent under that run, sorted
  std::size_t bad_lines = 0;         // skipped: torn, foreign or unreadable
  std::size_t first_bad_line = 0;    // its number, from 1

  bool WasSent(const RecordIdentity& record) const;
};

// Reads a journal in pieces of any size.
class JournalScan {
 public:
  explicit JournalScan(std::string list_path) : list_path_(std::move(list_path)) {}
  void Feed(std::string_view bytes);
  ResumePoint Finish();

 private:
  void TakeLine(std::string_view line);
  void Bad();

  std::string list_path_;
  std::string partial_;
  bool overlong_ = false;  // inside a line past the limit
  std::size_t line_number_ = 0;
  std::map<std::string, std::vector<RecordIdentity>> sent_;  // by run, this list only
  ResumePoint point_;
};

// Reads the journal at `path` for the list at `list_path`. A missing journal
// is an empty one; false, with the system's reason, when it cannot be read.
bool ReadResumePoint(const std::string& path, const std::string& list_path, ResumePoint* point,
                     std::string* reason);

// The journal as one run writes it.
class JournalWriter {
 public:
  // Opens (creates) the journal for appending, as its one writer.
  bool Open(const std::string& path, std::string* reason);
  // Appends one line whole, or nothing, in one write that reaches the
  // system before this returns (no stdio buffer; no fsync: a killed process
  // loses nothing written).
  bool Append(const JournalEntry& entry, std::string* reason);

 private:
  File file_;
};

// A new run id: 16 hex digits from the system's random source.
std::string NewRunId();

// The list's path as the journal names it: made absolute, with "." and ".."
// and symbolic links resolved where the file system allows.
std::string JournalListPath(const std::string& list_path);

// The left part of a Message-ID for a record: "<run id>.<line hash>.<occurrence>".
std::string MessageKey(std::string_view run_id, const RecordIdentity& record);

}  // namespace pinemail
