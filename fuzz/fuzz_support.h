// Helpers shared by the fuzz targets: cutting the input into fields and
// failing loudly, so that libFuzzer keeps the input that broke a check.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pinemail::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Cuts `input` at the first `count - 1` occurrences of `separator`; missing
// fields are empty and the last field takes the rest.
inline std::vector<std::string_view> SplitFields(std::string_view input, char separator,
                                                 std::size_t count) {
  std::vector<std::string_view> fields;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    std::size_t at = input.find(separator);
    if (at == std::string_view::npos) {
      fields.push_back(input);
      input = {};
    } else {
      fields.push_back(input.substr(0, at));
      input.remove_prefix(at + 1);
    }
  }
  fields.push_back(input);
  return fields;
}

// The path of a file in a private scratch folder made once per process.
// Memory-backed /dev/shm is preferred: the targets that go through real
// files spend most of their time in the file system otherwise.
inline std::string ScratchFile(std::string_view name) {
  static const std::string folder = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/pinemail-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder + "/" + std::string(name);
}

// Prints what went wrong and aborts: libFuzzer then writes the crash input.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  if (!detail.empty()) {
    std::fprintf(stderr, "  detail (%zu bytes): ", detail.size());
    for (unsigned char c : detail) {
      if (c >= 0x20 && c < 0x7F && c != '\\') {
        std::fputc(c, stderr);
      } else {
        std::fprintf(stderr, "\\x%02X", c);
      }
    }
    std::fputc('\n', stderr);
  }
  std::abort();
}

inline void Check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) Fail(what, detail);
}

}  // namespace pinemail::fuzz
