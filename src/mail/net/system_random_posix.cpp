// The system's random source on POSIX: getentropy (getrandom on Linux).
#include <unistd.h>

#include <algorithm>
#include <random>

#include "mail/net/system_random.h"

namespace pinemail {

bool SystemRandomBytes(void* out, std::size_t size) {
  // getentropy gives at most 256 bytes a call.
  constexpr std::size_t kMostPerCall = 256;
  auto* bytes = static_cast<unsigned char*>(out);
  for (std::size_t done = 0; done < size;) {
    const std::size_t part = std::min(size - done, kMostPerCall);
    if (getentropy(bytes + done, part) != 0) return false;
    done += part;
  }
  return true;
}

std::uint64_t SystemRandom64() {
  std::uint64_t value = 0;
  if (SystemRandomBytes(&value, sizeof value)) return value;
  std::random_device device;
  return static_cast<std::uint64_t>(device()) << 32 | device();
}

}  // namespace pinemail
