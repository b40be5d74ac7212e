// A recursive-descent reader over a bounded text; nesting is bounded too, so
// no input can run the stack out.
#include "mail/signon/oauth_json.h"

#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr int kDepthLimit = 16;

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool ReadObject(std::map<std::string, std::string>* members) {
    SkipSpace();
    if (!Take('{')) return false;
    SkipSpace();
    if (Take('}')) return AtEnd();
    do {
      SkipSpace();
      std::string name;
      std::string value;
      bool kept = false;
      if (!ReadString(&name)) return false;
      SkipSpace();
      if (!Take(':') || !ReadValue(0, &value, &kept)) return false;
      if (kept) (*members)[name] = std::move(value);
      SkipSpace();
    } while (Take(','));
    return Take('}') && AtEnd();
  }

 private:
  bool AtEnd() {
    SkipSpace();
    return pos_ == text_.size();
  }
  bool Take(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\n')) {
      ++pos_;
    }
  }
  bool TakeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // A value; `kept` is set for a string, a number, true or false.
  bool ReadValue(int depth, std::string* value, bool* kept) {
    SkipSpace();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '"') return *kept = ReadString(value);
    if (c == '{' || c == '[') return depth < kDepthLimit && SkipContainer(depth + 1);
    if (TakeWord("null")) return true;
    for (std::string_view word : {"true", "false"}) {
      if (TakeWord(word)) {
        *value = word;
        return *kept = true;
      }
    }
    return *kept = ReadNumber(value);
  }

  bool SkipContainer(int depth) {
    const char close = text_[pos_] == '{' ? '}' : ']';
    ++pos_;
    SkipSpace();
    if (Take(close)) return true;
    do {
      std::string ignored;
      bool kept = false;
      if (close == '}') {
        SkipSpace();
        if (!ReadString(&ignored)) return false;
        SkipSpace();
        if (!Take(':')) return false;
      }
      if (!ReadValue(depth, &ignored, &kept)) return false;
      SkipSpace();
    } while (Take(','));
    return Take(close);
  }

  bool ReadNumber(std::string* value) {
    const std::size_t start = pos_;
    Take('-');
    auto digits = [this] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (!digits()) return false;
    if (Take('.') && !digits()) return false;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!digits()) return false;
    }
    *value = text_.substr(start, pos_ - start);
    return true;
  }

  bool ReadHex4(char32_t* unit) {
    if (text_.size() - pos_ < 4) return false;
    *unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      *unit = *unit * 16 + static_cast<char32_t>(digit);
    }
    return true;
  }

  bool ReadEscape(std::string* out) {
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_++];
    constexpr std::string_view kFrom = "\"\\/bfnrt";
    constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t at = kFrom.find(c); at != std::string_view::npos) {
      out->push_back(kTo[at]);
      return true;
    }
    char32_t unit = 0;
    if (c != 'u' || !ReadHex4(&unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
      const std::size_t back = pos_;
      pos_ += 2;
      char32_t low = 0;
      if (!ReadHex4(&low)) return false;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(*out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        return true;
      }
      pos_ = back;  // the second escape stands on its own
    }
    AppendUtf8(*out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    return true;
  }

  bool ReadString(std::string* out) {
    if (!Take('"')) return false;
    out->clear();
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') {
        *out = SanitizeUtf8(*out);
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out->push_back(c);
      } else if (!ReadEscape(out)) {
        return false;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

bool ReadJsonObject(std::string_view text, std::map<std::string, std::string>* members) {
  members->clear();
  if (text.size() > kOAuthJsonLimit) return false;
  std::map<std::string, std::string> read;
  if (!JsonReader(text).ReadObject(&read)) return false;
  *members = std::move(read);
  return true;
}

}  // namespace pinemail
