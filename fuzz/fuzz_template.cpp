// Fuzzes the template reader on arbitrary file bytes, read from memory and
// from a file on disk, which must give the same result. A file that starts
// with a UTF-16 byte-order mark has its lines counted in 16-bit units.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "merge/template_reader.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

// Lines by the tool's rules: CR LF or a lone CR ends one, a lone LF does not,
// a last line without an end still counts.
std::size_t CountLines(std::string_view bytes) {
  std::size_t lines = 0;
  std::size_t i = 0;
  bool open = false;
  while (i < bytes.size()) {
    if (bytes[i] == '\r') {
      ++lines;
      open = false;
      i += (i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
    } else {
      open = true;
      ++i;
    }
  }
  return lines + (open ? 1 : 0);
}

// The line structure of a UTF-16 file's text: each unit as one byte, CR and
// LF as themselves (an odd last byte is a character of its own).
std::string Utf16LineShape(std::string_view bytes) {
  const bool little = bytes.starts_with("\xFF\xFE");
  std::string shape;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    if (i + 1 == bytes.size()) {
      shape += 'x';
      break;
    }
    const auto low = static_cast<unsigned char>(little ? bytes[i] : bytes[i + 1]);
    const auto high = static_cast<unsigned char>(little ? bytes[i + 1] : bytes[i]);
    shape += high == 0 && (low == '\r' || low == '\n') ? static_cast<char>(low) : 'x';
  }
  return shape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string scratch = pinemail::fuzz::ScratchFile("template.txt");
  std::string_view bytes = pinemail::fuzz::AsText(data, size);

  std::string subject = "unset";
  std::string body = "unset";
  bool usable = false;
  if (size > 0) {
    std::FILE* memory = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    Check(memory != nullptr, "fmemopen");
    usable = pinemail::ReadTemplate(memory, subject, body);
    std::fclose(memory);
  }

  std::FILE* file = std::fopen(scratch.c_str(), "wb");
  Check(file != nullptr, "scratch file");
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  std::string file_subject = "unset";
  std::string file_body = "unset";
  bool file_usable = pinemail::ReadTemplate(scratch, file_subject, file_body);
  if (size > 0) {
    Check(file_usable == usable && file_subject == subject && file_body == body,
          "memory and file give the same template", bytes);
  }

  const bool utf16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
  const std::size_t lines = CountLines(utf16 ? Utf16LineShape(bytes) : std::string(bytes));
  Check(file_usable == (lines >= 2), "usable exactly when there are two lines", bytes);
  if (!file_usable) return 0;

  Check(pinemail::IsValidUtf8(file_subject), "the subject is valid UTF-8", file_subject);
  Check(pinemail::CountCodePoints(file_subject) <= pinemail::kSubjectLimit,
        "the subject is cut to its limit", file_subject);
  Check(file_subject.find('\r') == std::string::npos, "the subject holds no line end",
        file_subject);
  Check(pinemail::IsValidUtf8(file_body), "the body is valid UTF-8", file_body);

  // Every body line ends in CR LF and no other CR is left in it.
  std::size_t line_ends = 0;
  for (std::size_t i = 0; i < file_body.size(); ++i) {
    if (file_body[i] != '\r') continue;
    Check(i + 1 < file_body.size() && file_body[i + 1] == '\n', "every CR starts a CR LF",
          file_body);
    ++line_ends;
  }
  Check(line_ends == lines - 2, "one body line per file line after the second", bytes);
  return 0;
}
