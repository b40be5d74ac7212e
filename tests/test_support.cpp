// Scratch folders and whole-file I/O for the unit tests.
#include "test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pinemail::testing {
namespace fs = std::filesystem;

namespace {

fs::path FromUtf8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string ToUtf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  fs::path base = fs::temp_directory_path();
  std::error_code ec;
  for (;;) {
    auto candidate = base / ("pinemail-test-" + std::to_string(fs::file_time_type::clock::now()
                                                                   .time_since_epoch()
                                                                   .count() %
                                                               1000000007) +
                             "-" + std::to_string(counter++));
    if (fs::create_directory(candidate, ec)) {
      path_ = ToUtf8(candidate) + static_cast<char>(fs::path::preferred_separator);
      return;
    }
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::remove_all(FromUtf8(path_), ec);
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(FromUtf8(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(FromUtf8(path), ec);
}

}  // namespace pinemail::testing
