// The system's random source on Windows: BCryptGenRandom with the system's
// preferred generator.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>

#include "text/system_random.h"

namespace pinemail {

bool SystemRandomBytes(void* out, std::size_t size) {
  constexpr std::size_t kMostPerCall = 1 << 20;  // a ULONG's worth, with room to spare
  auto* bytes = static_cast<unsigned char*>(out);
  for (std::size_t done = 0; done < size;) {
    const auto part = static_cast<ULONG>(std::min(size - done, kMostPerCall));
    if (BCryptGenRandom(nullptr, bytes + done, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
      return false;
    }
    done += part;
  }
  return true;
}

}  // namespace pinemail
