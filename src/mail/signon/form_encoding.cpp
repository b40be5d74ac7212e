// "application/x-www-form-urlencoded" both ways: the forms the OAuth client
// sends, and the query the browser's redirect brings back.
#include "mail/signon/form_encoding.h"

#include "text/ascii.h"

namespace pinemail {
namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f');
}

}  // namespace

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += '&';
    for (const std::string* part : {&name, &value}) {
      for (const char c : *part) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
        if (alnum || c == '-' || c == '.' || c == '_' || c == '~') {
          text += c;
        } else if (c == ' ') {
          text += '+';
        } else {
          text += '%';
          text += kHex[byte >> 4];
          text += kHex[byte & 15];
        }
      }
      if (part == &name) text += '=';
    }
  }
  return text;
}

std::map<std::string, std::string> ReadQuery(std::string_view query) {
  std::map<std::string, std::string> fields;
  auto decode = [](std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size() && IsHex(text[i + 1]) &&
                 IsHex(text[i + 2])) {
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  };
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    fields[decode(pair.substr(0, eq))] =
        eq == std::string_view::npos ? "" : decode(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return fields;
}

}  // namespace pinemail
