// Fuzzes the HTML part and the MIME structure with files. Input: the HTML
// template, a keyword's value, a file's name and its content, separated by
// NUL bytes. A value never adds markup to the HTML; every line of the
// message is a header line, a boundary line or base64 within its limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "mail/message/message_writer.h"
#include "merge/html_template.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

bool IsBase64Line(std::string_view line) {
  return line.size() <= 76 && line.find_first_not_of(
                                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstu"
                                  "vwxyz0123456789+/=") == std::string_view::npos;
}

// Walks the lines: header sections end at an empty line, a delimiter line
// starts one, and in between stands only base64.
void CheckLines(std::string_view message) {
  bool in_headers = true;
  int open = 0;
  while (!message.empty()) {
    const std::size_t end = message.find("\r\n");
    Check(end != std::string_view::npos, "every line ends in CR LF", message);
    const std::string_view line = message.substr(0, end);
    message.remove_prefix(end + 2);
    Check(line.find_first_of("\r\n") == std::string_view::npos, "no raw CR or LF", line);
    if (in_headers) {
      const bool continued = !line.empty() && line.front() == ' ';
      Check(line.size() <= 78, "header lines of at most 78", line);
      Check(line.empty() || continued || line.find(':') != std::string_view::npos,
            "a header line has a name or continues one", line);
      in_headers = !line.empty();
      if (line.starts_with("Content-Type: multipart/")) ++open;
    } else if (line.starts_with("--=_pinemail_")) {
      in_headers = !line.ends_with("--");
      if (!in_headers) --open;
    } else {
      Check(IsBase64Line(line), "bodies hold base64 lines of at most 76", line);
    }
  }
  Check(open == 0 && !in_headers, "every multipart is closed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto fields = pinemail::fuzz::SplitFields(pinemail::fuzz::AsText(data, size), '\0', 4);
  const std::string page = pinemail::SanitizeUtf8(fields[0]);  // as the template reader gives it
  pinemail::KeywordTable table;
  table.Build("V");
  const std::string html = pinemail::ComposeHtml(page, table, {std::string(fields[1])}, "");
  for (char markup : {'<', '>'}) {
    Check(std::count(html.begin(), html.end(), markup) ==
              std::count(page.begin(), page.end(), markup),
          "a value never adds or removes markup", html);
  }

  pinemail::MessageFields message;
  message.to = {"", "a@example.jp"};
  message.date = "Fri, 01 Jan 2027 00:00:05 +0900";
  message.message_id = "1.2@example.jp";
  message.html = html;
  const auto file = pinemail::EncodeAttachedFile(std::string(fields[2]), fields[3]);
  std::size_t done = 0;
  for (const pinemail::ImageReference& image : pinemail::FindImageReferences(html)) {
    Check(image.offset >= done && image.offset + image.length <= html.size(),
          "image places lie in order within the HTML", html);
    done = image.offset + image.length;
    message.inline_images.push_back({image.offset, image.length, file});
  }
  message.attachments = {file, pinemail::EncodeAttachedFile(std::string(fields[2]), "")};
  CheckLines(pinemail::WriteMessage(message));
  return 0;
}
