// A slow, literal model of the keyword scan, used to check the one-pass
// substitution against it and to measure the difference.
#pragma once

#include <string>
#include <string_view>
#include <vector>


namespace pinemail::testing {

// Runs the keyword scan exactly as the design states it: over characters with
// 1-based positions, rebuilding head + token + tail after every token, and
// searching for the next "%" from b + (length of the token as it now stands).
// A body without "%" gets the design's treatment: one "%" added at its end.
// `keys` empty means keywords are disabled (body returned unchanged); key i
// has values[i], empty when there are fewer values. `body`, keys and values
// must be valid UTF-8.
std::string ReferenceScan(std::string_view body, const std::vector<std::string>& keys,
                          const std::vector<std::string>& values);

}  // namespace pinemail::testing
