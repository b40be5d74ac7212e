// The journal, pinemail.journal beside the log: which messages each run got
// out, so that `/resume` can run a list again without mailing anyone twice.
//
// Its lines, UTF-8 (the program's own file, whatever the code page), each
// ended by LF and written whole by one write, fields separated by TAB, a
// version tag first and the list's path last:
//
//   pmj2 TAB start TAB <run id> TAB <list path>
//       a run (or a resumed run) of the list starts sending
//   pmj2 TAB sent TAB <run id> TAB <record hash> TAB <occurrence> TAB <message id>
//        TAB <time> TAB <list path>
//       the transport took the message of one record at <time>
//
// <run id>: 16 lower-case hex digits. <record hash>: FNV-1a 64 of the
// record's text as the run reads it (decoded to UTF-8, blanks trimmed, each
// character CP932 has only a look-alike for taken as that look-alike), 16
// lower-case hex digits; so trimming blanks in an editor or saving the list
// in another encoding changes no record. <occurrence>: which record of that
// text in the list it is, 0 for the first, in decimal. So a record keeps its
// identity when lines are inserted or a template is edited. <message id>:
// without angle brackets; "-" when the transport wrote none. <time>: whole
// seconds since 1970 (UTC), in decimal; sent lines written before times
// were kept have no such field, and count for no day's limit. <list path>:
// the list's full path. In the text fields "\" is written "\\", TAB "\t",
// LF "\n", CR "\r", and any other control or a byte that is not UTF-8
// "\xHH", so that no field can break a line or another field and every path
// comes back byte for byte.
//
// Lines tagged pmj1 (written by earlier versions) are the same but for the
// hash: it is of the record's line as read (its bytes, untrimmed, before
// decoding). A run keeps the tag it started with, so a pmj1 run resumed
// after an upgrade matches its records and makes its Message-IDs as before.
//
// A reader takes a line whatever its end (LF, CR LF or CR) and a UTF-8
// byte-order mark in front of it, skips empty lines, and skips and counts
// the lines it cannot take (torn, foreign, of a later version); a last line
// without its end is torn.
//
// The run a `/resume` continues (ResumeSearch), so that a list found again
// after its folder was moved or renamed, or under another drive letter, is
// still known, while a run of another list of that name is not taken:
//   1. The candidates are the runs (by run id) with a readable line, start
//      or sent, naming a list of the same file name (case-insensitive on
//      Windows, exact elsewhere), whatever its folder; a run whose start
//      line was damaged is known by its sent lines.
//   2. A candidate that journaled sent records, of which at most half are
//      records of this list, was a run of another list: it is never taken.
//   3. Of the rest, the newest (the one with the latest line) that names the
//      list's own full path; failing that, the newest of them all.
//   4. None left: there is no run to resume, and nothing is sent.
// A list found only by its records, under another file name, is not taken:
// a list copied from last year's, records and all, would then pass for last
// year's run and be skipped as sent.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "batch/record_identity.h"
#include "text/file_io.h"

namespace pinemail {

inline constexpr std::string_view kJournalFileName = "pinemail.journal";

struct JournalEntry {
  enum class Kind { kStart, kSent };
  Kind kind = Kind::kStart;
  IdentityScheme scheme = IdentityScheme::kRecordText;  // the line's tag
  std::string run_id;
  std::string list_path;
  RecordIdentity record;      // kSent
  std::string message_id;     // kSent; empty when the transport wrote none
  std::int64_t sent_at = -1;  // kSent: JournalSeconds; -1: a line without the time
};

// One journal line, its LF included.
std::string FormatJournalLine(const JournalEntry& entry);
// Parses one journal line (without its line end); false for anything not
// written by FormatJournalLine.
bool ParseJournalLine(std::string_view line, JournalEntry* entry);

// A run of a list of the searched file name, as far as its readable lines tell.
struct JournalRun {
  std::string run_id;
  IdentityScheme scheme = IdentityScheme::kRecordText;
  bool same_path = false;            // a line names the searched list's full path
  std::size_t newest_line = 0;       // the number of its latest line, from 1
  std::vector<RecordIdentity> sent;  // sorted, each once
};

// Reads a journal in pieces of any size and collects the runs of the lists
// that have the file name of `list_path`.
class JournalScan {
 public:
  explicit JournalScan(std::string list_path);
  void Feed(std::string_view bytes);
  // The runs, in the order of their first line.
  std::vector<JournalRun> Finish();

  // When every sent line that has a time (of any list) was written, in
  // the journal's order.
  const std::vector<std::int64_t>& sent_times() const { return sent_times_; }
  std::size_t bad_lines() const { return bad_lines_; }  // skipped: torn, foreign or unreadable
  std::size_t first_bad_line() const { return first_bad_line_; }  // its number, from 1

 private:
  void EndLine();
  void TakeLine(std::string_view line);
  void Bad();

  std::string list_path_;
  std::string file_name_;
  std::string last_path_;           // the list path of the last line read, and
  bool last_path_matches_ = false;  // whether its file name is the list's
  std::string partial_;
  bool overlong_ = false;  // inside a line past the limit
  bool after_cr_ = false;  // the last byte fed ended a line with CR
  std::size_t line_number_ = 0;
  std::size_t bad_lines_ = 0;
  std::size_t first_bad_line_ = 0;
  std::map<std::string, std::size_t> index_;  // run id -> its place in runs_
  std::vector<JournalRun> runs_;
  std::vector<std::int64_t> sent_times_;
};

// The run a `/resume` continues, or why there is none.
struct ResumePoint {
  enum class Missing {
    kNone,          // found
    kNoRunOfList,   // no run of a list of this file name
    kOtherRecords,  // runs of that name, none of which sent records of this list
  };
  Missing missing = Missing::kNoRunOfList;
  std::string run_id;
  IdentityScheme scheme = IdentityScheme::kRecordText;
  std::vector<RecordIdentity> sent;  // sent under that run, sorted

  bool found() const { return missing == Missing::kNone; }
  bool WasSent(const RecordIdentity& record) const;
};

// Chooses among a journal's runs of a list's file name the run to resume,
// by the rule at the top of this file, from the list's records.
class ResumeSearch {
 public:
  explicit ResumeSearch(std::vector<JournalRun> runs);
  // True when some candidate needs the records' line bytes (a pmj1 run).
  bool NeedsLineBytes() const;
  // Each record of the list, in order: its text and its line's bytes.
  void Record(std::string_view record_text, std::string_view line_bytes);
  ResumePoint Choose();

 private:
  struct Candidate {
    JournalRun run;
    std::vector<bool> found;  // per sent record: a record of this list
    std::size_t found_count = 0;
  };
  void Find(Candidate& candidate, const RecordIdentity& record);

  std::vector<Candidate> candidates_;
  // Per scheme: how often each hash a candidate sent has been seen so far.
  std::unordered_map<std::uint64_t, std::uint32_t> seen_[2];
};

// The journal as one run holds it: read from its start, appended to.
class JournalFile {
 public:
  // Opens (creates) the journal for reading and appending, as its one
  // writer, when it is a regular file; anything else (a folder, a FIFO, a
  // device or a link to one) is refused without waiting on it.
  bool Open(const std::string& path, std::string* reason);
  // Feeds the whole journal to `scan`; false with the system's reason.
  bool Read(JournalScan* scan, std::string* reason);
  // Appends one line whole, or nothing, in one write that reaches the
  // system before this returns (no stdio buffer; no fsync: a killed process
  // loses nothing written). A journal whose last line has no end (an
  // editor's save, a torn line) gets one first, so no line is glued to it.
  bool Append(const JournalEntry& entry, std::string* reason);

 private:
  File file_;
  bool needs_line_end_ = false;
};

// A new run id: 16 hex digits from the system's random source.
std::string NewRunId();

// True when two file names name the same file: case-insensitive on Windows,
// byte for byte elsewhere (journal_<platform>.cpp).
bool SameFileName(std::string_view a, std::string_view b);

// The list's path as the journal names it: made absolute, with "." and ".."
// and symbolic links resolved where the file system allows.
std::string JournalListPath(const std::string& list_path);

// The last part of a path (after the system's separators).
std::string FileNameOf(std::string_view path);

}  // namespace pinemail
