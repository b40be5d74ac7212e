// Code-page conversion on POSIX: the locale's character set and CP932
// through iconv.
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <string>
#include <utility>

#include "text/codepage_internal.h"
#include "text/utf8.h"

namespace pinemail::detail {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One open iconv descriptor, reopened only when the pair of sets changes:
// opening one costs far more than converting a line.
class Converter {
 public:
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  Converter(Converter&&) = delete;
  Converter& operator=(Converter&&) = delete;
  ~Converter() { Close(); }

  // The descriptor for `from` -> `to`; kNoConverter when iconv lacks it.
  iconv_t Get(const std::string& from, const std::string& to) {
    if (handle_ == kNoConverter || from != from_ || to != to_) {
      Close();
      from_ = from;
      to_ = to;
      handle_ = iconv_open(to.c_str(), from.c_str());
    }
    // Clear any shift state a previous conversion left behind.
    if (handle_ != kNoConverter) iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    return handle_;
  }

 private:
  void Close() {
    if (handle_ != kNoConverter) iconv_close(handle_);
    handle_ = kNoConverter;
  }

  iconv_t handle_ = kNoConverter;
  std::string from_;
  std::string to_;
};

// What to do with input that the descriptor refuses.
enum class Direction { kDecode, kEncode };

// Converts `in` with `cd`. A refused piece becomes U+FFFD (decoding, one per
// byte) or "?" (encoding, one per character); nothing is dropped.
std::string Convert(iconv_t cd, std::string_view in, Direction direction) {
  std::string out;
  out.resize(in.size() * (direction == Direction::kDecode ? 3 : 2) + 16);
  char* in_ptr = const_cast<char*>(in.data());
  std::size_t in_left = in.size();
  std::size_t out_used = 0;
  while (in_left > 0) {
    char* out_ptr = out.data() + out_used;
    std::size_t out_left = out.size() - out_used;
    const std::size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out_used = out.size() - out_left;
    if (result != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ (a byte or character the other side lacks) or EINVAL (a
    // sequence cut off at the end): mark it and go on after it.
    std::string_view mark = "?";
    std::size_t skip = 1;
    if (direction == Direction::kDecode) {
      mark = kReplacementUtf8;
    } else {
      char32_t code_point = 0;
      skip = DecodeCodePoint(std::string_view(in_ptr, in_left), 0, &code_point);
    }
    out.resize(out_used);
    out.append(mark);
    out.resize(out_used + mark.size() + in_left * 3 + 16);
    out_used += mark.size();
    in_ptr += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out_used);
  return out;
}

// Used when iconv lacks the set: ASCII passes, the rest is marked.
std::string Fallback(std::string_view in, Direction direction) {
  if (direction == Direction::kDecode) return SanitizeUtf8(in);
  std::string out;
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < in.size()) {
    const std::size_t length = DecodeCodePoint(in, pos, &code_point);
    out += code_point < 0x80 ? static_cast<char>(code_point) : '?';
    pos += length;
  }
  return out;
}

std::string Run(Converter& converter, const std::string& from, const std::string& to,
                std::string_view in, Direction direction) {
  const iconv_t cd = converter.Get(from, to);
  if (cd == kNoConverter) return Fallback(in, direction);
  return Convert(cd, in, direction);
}

const std::string kUtf8 = "UTF-8";
const std::string kCp932 = "CP932";

// One descriptor per direction and set; the program has one thread, and the
// tests' threads (if any) get their own.
thread_local Converter cp932_decoder;
thread_local Converter cp932_encoder;
thread_local Converter system_decoder;
thread_local Converter system_encoder;

}  // namespace

CodePage DetectSystemCodePage() { return ClassifyCodePage(nl_langinfo(CODESET)); }

std::string DecodeCodePage(const CodePage& code_page, std::string_view bytes) {
  return Run(system_decoder, code_page.iconv_name, kUtf8, bytes, Direction::kDecode);
}

std::string EncodeCodePage(const CodePage& code_page, std::string_view utf8) {
  return Run(system_encoder, kUtf8, code_page.iconv_name, utf8, Direction::kEncode);
}

std::string DecodeCp932Bytes(std::string_view bytes) {
  return Run(cp932_decoder, kCp932, kUtf8, bytes, Direction::kDecode);
}

std::string EncodeCp932Text(std::string_view utf8) {
  return Run(cp932_encoder, kUtf8, kCp932, utf8, Direction::kEncode);
}

}  // namespace pinemail::detail
