// The HTML companion of a template: finding and reading it, substituting a
// record's values into it as text, and finding the images it shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "merge/keywords.h"

namespace pinemail {

// The companion of the template at `template_path` ("X.txt" or "X"): the
// first of "X.html" and "X.htm" that exists beside it; empty when neither
// does. The ".txt" is matched in any case.
std::string FindHtmlCompanion(const std::string& template_path);

// Reads an HTML companion as a template is read (byte-order mark, UTF-8,
// CP932 fallback, kTemplateSizeLimit), its lines joined by CR LF. False for
// anything but a regular file of at most that size, or a read error.
bool ReadHtmlTemplate(const std::string& path, std::string* html);

// `text` with & < > " ' as character references: it shows as text, never
// as markup, in content and in attribute values alike.
std::string EscapeHtml(std::string_view text);

// The HTML of one record: the record's values, each HTML-escaped, for the
// keywords of `table` (the same scan as in the text), a <meta> charset made
// UTF-8 (the part is sent as UTF-8), and `banner` (when not empty) as an
// escaped paragraph at the top of the body.
std::string ComposeHtml(std::string_view html_template, const KeywordTable& table,
                        const std::vector<std::string>& values, std::string_view banner);

// An <img src> that names a file relative to the template's folder.
struct ImageReference {
  std::size_t offset = 0;  // where the attribute's value starts in the HTML
  std::size_t length = 0;  // its length in bytes, quotes excluded
  std::string file_name;   // the value with its character references decoded
};

// The <img src> values of `html` that are relative file names: not a URL
// with a scheme (http:, cid:, data:, ...), not absolute, not empty. In order.
std::vector<ImageReference> FindImageReferences(std::string_view html);

}  // namespace pinemail
