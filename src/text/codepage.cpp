// The portable half of code-page conversion: byte-order marks, the file
// decoder, the CP932 look-alikes and the ASCII fast paths.
#include "text/codepage.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "text/ascii.h"
#include "text/codepage_internal.h"
#include "text/codepage_testing.h"
#include "text/utf8.h"

namespace pinemail {
namespace detail {

namespace {

std::optional<CodePage>& TestCodePage() {
  static std::optional<CodePage> code_page;
  return code_page;
}

// The number in "932", "CP932" or "WINDOWS-1252"; nullopt for anything else.
std::optional<unsigned> CodePageNumber(std::string_view upper) {
  for (std::string_view prefix : {"CP", "WINDOWS-"}) {
    if (upper.starts_with(prefix)) {
      upper.remove_prefix(prefix.size());
      break;
    }
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(upper.data(), upper.data() + upper.size(), number);
  if (upper.empty() || error != std::errc() || end != upper.data() + upper.size()) {
    return std::nullopt;
  }
  return number;
}

// Characters that CP932 lacks but has a look-alike for: the JIS forms that
// Unicode tables other than Microsoft's use for the same CP932 bytes.
struct LookAlike {
  char32_t missing;
  char32_t present;
};
constexpr LookAlike kCp932LookAlikes[] = {
    {0x2212, 0xFF0D},  // minus sign -> fullwidth hyphen-minus
    {0x301C, 0xFF5E},  // wave dash -> fullwidth tilde
    {0x203E, 0xFFE3},  // overline -> fullwidth macron
    {0x2016, 0x2225},  // double vertical line -> parallel to
    {0x2014, 0x2015},  // em dash -> horizontal bar
    {0x00A2, 0xFFE0},  // cent sign
    {0x00A3, 0xFFE1},  // pound sign
    {0x00A5, 0xFFE5},  // yen sign
    {0x00A6, 0xFFE4},  // broken bar
    {0x00AC, 0xFFE2},  // not sign
};

char32_t Cp932LookAlike(char32_t code_point) {
  for (const LookAlike& look_alike : kCp932LookAlikes) {
    if (look_alike.missing == code_point) return look_alike.present;
  }
  return code_point;
}

// Cheap test before the character-by-character pass: every character in the
// table starts with C2 or E2, apart from the wave dash E3 80 9C.
bool MayNeedLookAlikes(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == 0xC2 || byte == 0xE2) return true;
    if (byte == 0xE3 && utf8.substr(i + 1, 2) == "\x80\x9C") return true;
  }
  return false;
}

std::string ApplyCp932LookAlikes(std::string_view utf8) {
  if (!MayNeedLookAlikes(utf8)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  char32_t code_point = 0;
  while (pos < utf8.size()) {
    const std::size_t length = DecodeCodePoint(utf8, pos, &code_point);
    const char32_t look_alike = Cp932LookAlike(code_point);
    if (look_alike != code_point) {
      AppendUtf8(out, look_alike);
    } else {
      out.append(utf8.substr(pos, length));
    }
    pos += length;
  }
  return out;
}

}  // namespace

CodePage ClassifyCodePage(std::string_view name_or_number) {
  const std::string upper = AsciiUpperCase(name_or_number);
  // The C/POSIX locale is what cron and service managers give a program;
  // its plain ASCII is read as UTF-8 so that such runs still handle text.
  static constexpr std::string_view kUtf8Names[] = {"",      "C",        "POSIX", "ANSI_X3.4-1968",
                                                    "ASCII", "US-ASCII", "UTF-8", "UTF8"};
  static constexpr std::string_view kCp932Names[] = {
      "MS932", "WINDOWS-31J", "SHIFT_JIS", "SHIFT-JIS", "SJIS", "SJIS-WIN", "MS_KANJI"};
  const std::optional<unsigned> number = CodePageNumber(upper);
  CodePage code_page;
  if (number == 65001U ||
      std::find(std::begin(kUtf8Names), std::end(kUtf8Names), upper) != std::end(kUtf8Names)) {
    return code_page;
  }
  if (number == 932U ||
      std::find(std::begin(kCp932Names), std::end(kCp932Names), upper) != std::end(kCp932Names)) {
    code_page.kind = CodePageKind::kCp932;
    code_page.iconv_name = "CP932";
    code_page.number = 932;
    return code_page;
  }
  code_page.kind = CodePageKind::kOther;
  code_page.iconv_name = number ? "CP" + std::to_string(*number) : std::string(name_or_number);
  code_page.number = number.value_or(0);
  return code_page;
}

const CodePage& SystemCodePage() {
  if (const std::optional<CodePage>& chosen = TestCodePage()) return *chosen;
  // Detected once: main sets the locale before any text is converted.
  static const CodePage detected = DetectSystemCodePage();
  return detected;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace detail

void SetSystemCodePageForTesting(std::string_view name_or_number) {
  detail::TestCodePage() = detail::ClassifyCodePage(name_or_number);
}

void ResetSystemCodePageForTesting() { detail::TestCodePage().reset(); }

std::string DecodeCp932(std::string_view bytes) {
  // CP932 agrees with ASCII below 0x80 (0x5C is the backslash, 0x7E the tilde).
  if (detail::IsAscii(bytes)) return std::string(bytes);
  return detail::DecodeCp932Bytes(bytes);
}

std::string EncodeCp932(std::string_view utf8) {
  if (detail::IsAscii(utf8)) return std::string(utf8);
  return detail::EncodeCp932Text(detail::ApplyCp932LookAlikes(utf8));
}

std::string FoldCp932LookAlikes(std::string_view utf8) {
  return detail::ApplyCp932LookAlikes(utf8);
}

bool SystemCodePageIsUtf8() { return detail::SystemCodePage().kind == detail::CodePageKind::kUtf8; }

std::string DecodeSystemText(std::string_view bytes) {
  const detail::CodePage& code_page = detail::SystemCodePage();
  switch (code_page.kind) {
    case detail::CodePageKind::kUtf8:
      // Text typed or saved on Japanese Windows is CP932, not UTF-8.
      return IsValidUtf8(bytes) ? std::string(bytes) : DecodeCp932(bytes);
    case detail::CodePageKind::kCp932:
      return DecodeCp932(bytes);
    case detail::CodePageKind::kOther:
      break;
  }
  if (detail::IsAscii(bytes)) return std::string(bytes);
  return detail::DecodeCodePage(code_page, bytes);
}

std::string EncodeSystemText(std::string_view utf8) {
  const detail::CodePage& code_page = detail::SystemCodePage();
  switch (code_page.kind) {
    case detail::CodePageKind::kUtf8:
      return SanitizeUtf8(utf8);
    case detail::CodePageKind::kCp932:
      return EncodeCp932(utf8);
    case detail::CodePageKind::kOther:
      break;
  }
  if (detail::IsAscii(utf8)) return std::string(utf8);
  return detail::EncodeCodePage(code_page, utf8);
}

ByteOrderMark FindByteOrderMark(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) return {TextEncoding::kUtf8, 3};
  if (head.starts_with("\xFF\xFE")) return {TextEncoding::kUtf16Le, 2};
  if (head.starts_with("\xFE\xFF")) return {TextEncoding::kUtf16Be, 2};
  return {};
}

std::string TextDecoder::Decode(std::string_view bytes) {
  switch (encoding_) {
    case TextEncoding::kUtf8:
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
      return SanitizeUtf8(bytes);
    case TextEncoding::kCp932:
      return DecodeCp932(bytes);
    case TextEncoding::kSystem:
      break;
  }
  if (SystemCodePageIsUtf8() && !IsValidUtf8(bytes)) {
    // The file was not written in UTF-8; it most likely came from Japanese
    // Windows, so read this line and the rest of the file as CP932.
    encoding_ = TextEncoding::kCp932;
    return DecodeCp932(bytes);
  }
  return DecodeSystemText(bytes);
}

}  // namespace pinemail
