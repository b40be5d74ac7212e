// The system's random source on POSIX: getentropy (getrandom on Linux).
#include <unistd.h>

#include <algorithm>

#include "text/system_random.h"

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

}  // namespace pinemail
