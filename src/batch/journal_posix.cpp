// The system's random source on POSIX, for run ids, and its rule for file
// names.
#include <unistd.h>

#include <cstdint>
#include <random>

#include "batch/journal.h"

namespace pinemail {

std::uint64_t SystemRandom64() {
  std::uint64_t value = 0;
  // getentropy reads the kernel's source (getrandom on Linux); for 8 bytes
  // it fails only on a kernel without it.
  if (getentropy(&value, sizeof value) == 0) return value;
  std::random_device device;
  return static_cast<std::uint64_t>(device()) << 32 | device();
}

// POSIX file systems tell names apart by case: "List.txt" beside "list.txt"
// is another list.
bool SameFileName(std::string_view a, std::string_view b) { return a == b; }

}  // namespace pinemail
