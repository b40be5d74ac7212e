// The journal's rule for file names on Windows.
#include <windows.h>

#include "batch/journal.h"
#include "text/wide_win32.h"

namespace pinemail {

// The file system's own case rule (CompareStringOrdinal ignoring case is
// what NTFS and FAT compare names by).
bool SameFileName(std::string_view a, std::string_view b) {
  const std::wstring wide_a = Utf8ToWide(a);
  const std::wstring wide_b = Utf8ToWide(b);
  return CompareStringOrdinal(wide_a.data(), static_cast<int>(wide_a.size()), wide_b.data(),
                              static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace pinemail
