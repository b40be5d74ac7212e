// Fuzzes the journal's reader and writer.
// Input: any bytes, read as a journal (whole and in pieces: the same
// answer), as lines to parse (a parsed line, written again, parses to the
// same entry), and as a list path and message id to write (they come back
// byte for byte). Without a CR, the journal reads the same with CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/journal.h"
#include "fuzz/fuzz_support.h"

using pinemail::fuzz::Check;

namespace {

constexpr std::string_view kListPath = "/l";

// The runs read, written out to compare.
std::string Scan(std::string_view journal, std::size_t piece) {
  pinemail::JournalScan scan{std::string(kListPath)};
  for (std::size_t at = 0; at < journal.size(); at += piece) scan.Feed(journal.substr(at, piece));
  std::string text = std::to_string(scan.bad_lines()) + ":" + std::to_string(scan.first_bad_line());
  for (const pinemail::JournalRun& run : scan.Finish()) {
    text += " " + run.run_id + (run.same_path ? "+" : "-") + std::to_string(run.newest_line);
    for (const auto& record : run.sent) text += "," + pinemail::MessageKey("", record);
  }
  return text;
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

  const std::string whole = Scan(input, input.size() + 1);
  Check(whole == Scan(input, size == 0 ? 1 : 1 + data[0] % 13), "pieces read the same", input);
  if (input.find('\r') == std::string_view::npos) {
    std::string crlf;
    for (char c : input) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Check(whole == Scan(crlf, crlf.size()), "CR LF line ends read the same", input);
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
