// 64 random bits for ids, from the system's source or, should it fail, the
// standard library's random device.
#include "text/system_random.h"

#include <random>

namespace pinemail {

std::uint64_t SystemRandom64() {
  std::uint64_t value = 0;
  if (SystemRandomBytes(&value, sizeof value)) return value;
  std::random_device device;
  return static_cast<std::uint64_t>(device()) << 32 | device();
}

}  // namespace pinemail
