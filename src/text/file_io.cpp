// The portable half of file access: closing owned files and converting paths.
#include "text/file_io.h"

namespace pinemail {

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace pinemail
