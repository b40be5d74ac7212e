// Fuzzes the journal's reader and writer.
// Input: any bytes, read as a journal (whole and in pieces: the same
// answer), as lines to parse (a parsed line, written again, parses to the
// same entry), and as a list path and message id to write (they come back
// byte for byte).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/journal.h"
#include "fuzz/fuzz_support.h"

using pinemail::fuzz::Check;

namespace {

constexpr std::string_view kListPath = "/l";

pinemail::ResumePoint Scan(std::string_view journal, std::size_t piece) {
  pinemail::JournalScan scan{std::string(kListPath)};
  for (std::size_t at = 0; at < journal.size(); at += piece) scan.Feed(journal.substr(at, piece));
  return scan.Finish();
}

void CheckRoundTrip(const pinemail::JournalEntry& entry, std::string_view input) {
  const std::string line = pinemail::FormatJournalLine(entry);
  Check(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1,
        "a journal line is one line", input);
  pinemail::JournalEntry parsed;
  Check(pinemail::ParseJournalLine(std::string_view(line).substr(0, line.size() - 1), &parsed),
        "a written line parses", line);
  Check(parsed.kind == entry.kind && parsed.run_id == entry.run_id &&
            parsed.list_path == entry.list_path && parsed.record == entry.record &&
            parsed.message_id == entry.message_id,
        "a written line comes back as it was", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = pinemail::fuzz::AsText(data, size);

  const pinemail::ResumePoint whole = Scan(input, input.size() + 1);
  const pinemail::ResumePoint pieces = Scan(input, size == 0 ? 1 : 1 + data[0] % 13);
  Check(whole.found == pieces.found && whole.run_id == pieces.run_id && whole.sent == pieces.sent &&
            whole.bad_lines == pieces.bad_lines && whole.first_bad_line == pieces.first_bad_line,
        "a journal read in pieces reads the same", input);
  Check(!whole.found || whole.run_id.size() == 16, "a run id has 16 digits", input);
  for (std::size_t i = 1; i < whole.sent.size(); ++i) {
    Check(!(whole.sent[i] < whole.sent[i - 1]), "the records sent are sorted", input);
  }

  std::string_view rest = input;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    pinemail::JournalEntry entry;
    if (pinemail::ParseJournalLine(rest.substr(0, end), &entry)) CheckRoundTrip(entry, input);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }

  const auto fields = pinemail::fuzz::SplitFields(input, '\0', 2);
  pinemail::JournalEntry written;
  written.kind = pinemail::JournalEntry::Kind::kSent;
  written.run_id = "0123456789abcdef";
  written.record = {pinemail::LineHash(input), static_cast<std::uint32_t>(size)};
  written.list_path = fields[0].empty() ? std::string(kListPath) : std::string(fields[0]);
  written.message_id = std::string(fields[1]);
  CheckRoundTrip(written, input);
  return 0;
}
