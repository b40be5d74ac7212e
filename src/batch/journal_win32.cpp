// The system's random source on Windows, for run ids, and its rule for
// file names.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <cstdint>
#include <random>

#include "batch/journal.h"
#include "text/wide_win32.h"

namespace pinemail {

std::uint64_t SystemRandom64() {
  // rand_s draws from the system's generator (RtlGenRandom).
  unsigned int high = 0;
  unsigned int low = 0;
  if (rand_s(&high) == 0 && rand_s(&low) == 0) return static_cast<std::uint64_t>(high) << 32 | low;
  std::random_device device;
  return static_cast<std::uint64_t>(device()) << 32 | device();
}

// The file system's own case rule (CompareStringOrdinal ignoring case is
// what NTFS and FAT compare names by).
bool SameFileName(std::string_view a, std::string_view b) {
  const std::wstring wide_a = Utf8ToWide(a);
  const std::wstring wide_b = Utf8ToWide(b);
  return CompareStringOrdinal(wide_a.data(), static_cast<int>(wide_a.size()), wide_b.data(),
                              static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace pinemail
