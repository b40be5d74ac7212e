// The terminal a run shows its progress on: standard error when it is a
// terminal (POSIX), or the console of the command prompt that started the
// program (Windows). One line there is redrawn in place.
#pragma once

#include <cstddef>
#include <string_view>

namespace pinemail {

enum class TerminalKind {
  kNone,  // no terminal: nothing is shown (a scheduled run)
  kDumb,  // a terminal that cannot move the cursor (TERM=dumb): plain lines only
  kFull,  // a line can be redrawn in place
};

// Finds the terminal; on Windows attaches to the console of the process
// that started the program, if it has one (no console is ever created).
TerminalKind OpenTerminal();

// The terminal's width in columns: the window's size, else the environment
// variable COLUMNS, else 80.
std::size_t TerminalColumns();

// Writes UTF-8 text as it is (lines end in "\n").
void WriteTerminal(std::string_view text);

// Replaces the line the cursor is on with `line`, which must fit the width
// (kFull terminals only); the cursor stays at its end.
void RedrawTerminalLine(std::string_view line);

// Empties the line the cursor is on and puts the cursor at its start.
void ClearTerminalLine();

}  // namespace pinemail
