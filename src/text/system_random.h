// The system's random source, the program's only one (getentropy on POSIX,
// BCryptGenRandom on Windows: system_random_<platform>.cpp), for what must
// not be guessed or repeated: the PKCE verifier, the OAuth state, run ids,
// Message-IDs and the names of temporary files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pinemail {

// Fills `size` bytes at `out` from the system's random source (platform
// file). False when the system could not give them; nothing weaker stands in.
bool SystemRandomBytes(void* out, std::size_t size);

// 64 bits from the system's random source; should it ever fail, from the
// standard library's random device (enough for ids that need only differ).
std::uint64_t SystemRandom64();

}  // namespace pinemail
