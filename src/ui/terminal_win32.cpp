// The terminal on Windows: the console of the command prompt that started
// the program (a GUI-subsystem program gets none of its own), written in
// UTF-16. An old console knows no escape sequences, so a line is erased by
// writing blanks over what the last one left.
#include <windows.h>

#include <algorithm>
#include <string>

#include "text/display_width.h"
#include "text/wide_win32.h"
#include "ui/terminal.h"

namespace pinemail {
namespace {

constexpr std::size_t kDefaultColumns = 80;

// The console's output, opened once the console is attached; it lives as
// long as the program.
HANDLE console_output = INVALID_HANDLE_VALUE;
std::size_t drawn_width = 0;  // columns the redrawn line took

}  // namespace

TerminalKind OpenTerminal() {
  if (console_output != INVALID_HANDLE_VALUE) return TerminalKind::kFull;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return TerminalKind::kNone;
  console_output =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console_output == INVALID_HANDLE_VALUE) {
    FreeConsole();
    return TerminalKind::kNone;
  }
  return TerminalKind::kFull;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console_output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console_output, &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return static_cast<std::size_t>(columns);
  }
  return kDefaultColumns;
}

void WriteTerminal(std::string_view text) {
  if (console_output == INVALID_HANDLE_VALUE) return;
  const std::wstring wide = Utf8ToWide(text);
  DWORD written = 0;
  WriteConsoleW(console_output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void RedrawTerminalLine(std::string_view line) {
  const std::size_t width = DisplayWidth(line);
  std::string text(1, '\r');
  text.append(line);
  // Blanks over the rest of the last line, then back to the end of this one.
  if (drawn_width > width) text.append(drawn_width - width, ' ').append(1, '\r').append(line);
  WriteTerminal(text);
  drawn_width = width;
}

void ClearTerminalLine() {
  std::string blanks(1, '\r');
  blanks.append(drawn_width, ' ').append(1, '\r');
  WriteTerminal(blanks);
  drawn_width = 0;
}

}  // namespace pinemail
