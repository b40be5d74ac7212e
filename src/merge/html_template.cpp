// Finds, reads and fills in the HTML companion of a template.
#include "merge/html_template.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

#include "merge/template_reader.h"
#include "text/ascii.h"
#include "text/file_io.h"
#include "text/line_reader.h"

namespace pinemail {
namespace {

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(PathFromUtf8(path), error);
}

// The template's path without its ".txt", in whatever case.
std::string_view Stem(std::string_view template_path) {
  constexpr std::string_view kText = ".txt";
  if (template_path.size() > kText.size() &&
      EqualsNoCase(template_path.substr(template_path.size() - kText.size()), kText)) {
    template_path.remove_suffix(kText.size());
  }
  return template_path;
}

// The position of the first `needle` (ASCII) in `text` from `from`, in any case.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0) {
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (EqualsNoCase(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// The end of the tag that starts at `open` (its ">"), or the end of the text.
std::size_t TagEnd(std::string_view html, std::size_t open) {
  std::size_t end = html.find('>', open);
  return end == std::string_view::npos ? html.size() : end;
}

// The positions of the tags named `name` (lower case, e.g. "img").
std::vector<std::size_t> TagStarts(std::string_view html, std::string_view name) {
  std::vector<std::size_t> starts;
  std::string open = "<";
  open.append(name);  // appended: mingw's restrict warning on operator+
  for (std::size_t at = FindNoCase(html, open); at != std::string_view::npos;
       at = FindNoCase(html, open, at + 1)) {
    const std::size_t after = at + open.size();
    if (after < html.size() &&
        (IsHtmlSpace(html[after]) || html[after] == '>' || html[after] == '/')) {
      starts.push_back(at);
    }
  }
  return starts;
}

// An attribute's value within a tag: where it starts and its length.
struct AttributeValue {
  std::size_t offset = std::string_view::npos;
  std::size_t length = 0;
};

// The value of the attribute `name` in the tag html[start, end).
AttributeValue FindAttribute(std::string_view html, std::size_t start, std::size_t end,
                             std::string_view name) {
  for (std::size_t at = FindNoCase(html.substr(0, end), name, start); at != std::string_view::npos;
       at = FindNoCase(html.substr(0, end), name, at + 1)) {
    if (!IsHtmlSpace(html[at - 1])) continue;
    std::size_t pos = at + name.size();
    while (pos < end && IsHtmlSpace(html[pos])) ++pos;
    if (pos >= end || html[pos] != '=') continue;
    ++pos;
    while (pos < end && IsHtmlSpace(html[pos])) ++pos;
    if (pos < end && (html[pos] == '"' || html[pos] == '\'')) {
      const std::size_t close = html.find(html[pos], pos + 1);
      if (close == std::string_view::npos || close > end) return {};
      return {pos + 1, close - pos - 1};
    }
    std::size_t stop = pos;
    while (stop < end && !IsHtmlSpace(html[stop])) ++stop;
    return {pos, stop - pos};
  }
  return {};
}

// The named and numeric references that EscapeHtml writes, decoded.
std::string DecodeCharacterReferences(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, char>, 6> kReferences = {{
      {"&amp;", '&'},
      {"&lt;", '<'},
      {"&gt;", '>'},
      {"&quot;", '"'},
      {"&#39;", '\''},
      {"&apos;", '\''},
  }};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool decoded = false;
    for (const auto& [reference, c] : kReferences) {
      if (text.substr(i).starts_with(reference)) {
        out += c;
        i += reference.size() - 1;
        decoded = true;
        break;
      }
    }
    if (!decoded) out += text[i];
  }
  return out;
}

// True for a relative file name: no scheme ("x:" before any "/"), not
// absolute, not a fragment.
bool IsRelativeFileName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\' || name.front() == '#') {
    return false;
  }
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos || name.find_first_of("/\\") < colon;
}

// The value of the charset in the <meta> tag at `meta` (charset="..." or
// content="...; charset=..."); offset npos when it names none.
AttributeValue MetaCharset(std::string_view html, std::size_t meta) {
  constexpr std::string_view kCharset = "charset";
  constexpr std::string_view kValueEnds = "\"'; \t\r\n/<>";
  const std::size_t end = TagEnd(html, meta);
  const std::size_t at = FindNoCase(html.substr(0, end), kCharset, meta);
  if (at == std::string_view::npos) return {};
  std::size_t value = at + kCharset.size();
  while (value < end && IsHtmlSpace(html[value])) ++value;
  if (value >= end || html[value] != '=') return {};
  value = html.find_first_not_of(" \t\r\n\f\"'", value + 1);
  if (value == std::string_view::npos || value > end) value = end;
  std::size_t stop = std::min(end, html.find_first_of(kValueEnds, value));
  return {value, stop - value};
}

// Each <meta> charset made UTF-8: the part is sent as UTF-8.
void MakeMetaCharsetUtf8(std::string* html) {
  const std::vector<std::size_t> metas = TagStarts(*html, "meta");
  // From the last, so that the places of the earlier ones stay as found.
  for (auto meta = metas.rbegin(); meta != metas.rend(); ++meta) {
    const AttributeValue charset = MetaCharset(*html, *meta);
    if (charset.offset != std::string_view::npos)
      html->replace(charset.offset, charset.length, "UTF-8");
  }
}

// The banner as a paragraph: its lines escaped, joined by <br>.
std::string BannerParagraph(std::string_view banner) {
  while (banner.ends_with("\r\n")) banner.remove_suffix(2);
  std::string paragraph = "<p>";
  for (std::size_t start = 0; start <= banner.size();) {
    std::size_t stop = banner.find("\r\n", start);
    if (stop == std::string_view::npos) stop = banner.size();
    if (start > 0) paragraph += "<br>\r\n";
    paragraph += EscapeHtml(banner.substr(start, stop - start));
    start = stop + 2;
  }
  return paragraph + "</p>\r\n";
}

// Where the body's content starts: after the <body> tag; without one, after
// the head's end or the <html> tag, so that nothing lands before the head;
// else at the start.
std::size_t BodyContentStart(std::string_view html) {
  for (std::string_view name : {"body", "/head", "html"}) {
    const std::vector<std::size_t> tags = TagStarts(html, name);
    if (tags.empty()) continue;
    const std::size_t end = TagEnd(html, tags.front());
    return end < html.size() ? end + 1 : html.size();
  }
  return 0;
}

}  // namespace

std::string FindHtmlCompanion(const std::string& template_path) {
  const std::string stem(Stem(template_path));
  for (std::string_view extension : {".html", ".htm"}) {
    std::string companion = stem + std::string(extension);
    if (Exists(companion)) return companion;
  }
  return {};
}

bool ReadHtmlTemplate(const std::string& path, std::string* html) {
  const File file = OpenRegularFile(path, kTemplateSizeLimit);
  if (!file) return false;
  LineReader reader(file.get(), kTemplateSizeLimit);
  std::string line;
  html->clear();
  while (reader.Next(&line)) {
    *html += line;
    *html += "\r\n";
  }
  return std::ferror(file.get()) == 0 && !reader.over_limit();
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ComposeHtml(std::string_view html_template, const KeywordTable& table,
                        const std::vector<std::string>& values, std::string_view banner) {
  std::vector<std::string> escaped;
  escaped.reserve(values.size());
  for (const std::string& value : values) escaped.push_back(EscapeHtml(value));
  std::string html(html_template);
  SubstituteKeywords(html, table, escaped);
  MakeMetaCharsetUtf8(&html);
  if (!banner.empty()) html.insert(BodyContentStart(html), BannerParagraph(banner));
  return html;
}

std::vector<ImageReference> FindImageReferences(std::string_view html) {
  std::vector<ImageReference> references;
  std::size_t previous_end = 0;
  for (std::size_t start : TagStarts(html, "img")) {
    // "<img" inside an unclosed tag before it is part of that tag.
    if (start < previous_end) continue;
    previous_end = TagEnd(html, start);
    const AttributeValue src = FindAttribute(html, start, previous_end, "src");
    if (src.offset == std::string_view::npos) continue;
    std::string name = DecodeCharacterReferences(html.substr(src.offset, src.length));
    if (!IsRelativeFileName(name)) continue;
    references.push_back({src.offset, src.length, std::move(name)});
  }
  return references;
}

}  // namespace pinemail
