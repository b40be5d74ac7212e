// The system's random source on Windows, for run ids.
#define _CRT_RAND_S
#include <stdlib.h>

#include <cstdint>
#include <random>

#include "batch/journal.h"

namespace pinemail {

std::uint64_t SystemRandom64() {
  // rand_s draws from the system's generator (RtlGenRandom).
  unsigned int high = 0;
  unsigned int low = 0;
  if (rand_s(&high) == 0 && rand_s(&low) == 0) return static_cast<std::uint64_t>(high) << 32 | low;
  std::random_device device;
  return static_cast<std::uint64_t>(device()) << 32 | device();
}

}  // namespace pinemail
