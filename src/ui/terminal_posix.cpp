// The terminal on POSIX: standard error, in the locale's character set; the
// line is redrawn with a carriage return and "erase to the end of the line".
#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/codepage.h"
#include "ui/terminal.h"

namespace pinemail {
namespace {

constexpr std::size_t kDefaultColumns = 80;
constexpr std::string_view kEraseToEnd = "\x1b[K";

}  // namespace

TerminalKind OpenTerminal() {
  if (isatty(STDERR_FILENO) == 0) return TerminalKind::kNone;
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return TerminalKind::kDumb;
  return TerminalKind::kFull;
}

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  std::size_t value = 0;
  if (columns != nullptr) {
    const char* end = columns + std::strlen(columns);
    const auto [ptr, error] = std::from_chars(columns, end, value);
    if (error == std::errc{} && ptr == end && value > 0) return value;
  }
  return kDefaultColumns;
}

void WriteTerminal(std::string_view text) {
  const std::string bytes = EncodeSystemText(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void RedrawTerminalLine(std::string_view line) {
  std::string text(1, '\r');
  text.append(line).append(kEraseToEnd);
  WriteTerminal(text);
}

void ClearTerminalLine() { WriteTerminal(std::string(1, '\r').append(kEraseToEnd)); }

}  // namespace pinemail
