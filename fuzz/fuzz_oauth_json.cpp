// Fuzzes the reader of an authorization server's JSON replies: any bytes
// are read or refused without a crash, the members' values are UTF-8, and a
// reply read once reads the same when its members are written back.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz/fuzz_support.h"
#include "mail/signon/oauth_json.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

// The members as one flat object of strings, escaping what JSON needs.
std::string Write(const std::map<std::string, std::string>& members) {
  auto quote = [](const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        constexpr char kHex[] = "0123456789abcdef";
        out += "\\u00";
        out += kHex[(c >> 4) & 15];
        out += kHex[c & 15];
      } else {
        out += c;
      }
    }
    return out + "\"";
  };
  std::string text = "{";
  for (const auto& [name, value] : members) {
    if (text.size() > 1) text += ',';
    text += quote(name) + ":" + quote(value);
  }
  return text + "}";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = pinemail::fuzz::AsText(data, size);
  std::map<std::string, std::string> members;
  if (!pinemail::ReadJsonObject(text, &members)) {
    Check(members.empty(), "a refused text gives no members", text);
    return 0;
  }
  Check(text.size() <= pinemail::kOAuthJsonLimit, "only bounded texts are read", text);
  for (const auto& [name, value] : members) {
    Check(pinemail::IsValidUtf8(name) && pinemail::IsValidUtf8(value), "members are UTF-8", text);
  }
  std::map<std::string, std::string> again;
  const std::string written = Write(members);
  if (written.size() <= pinemail::kOAuthJsonLimit) {
    Check(pinemail::ReadJsonObject(written, &again) && again == members,
          "members written back read the same", text);
  }
  return 0;
}
