// Writes the body entity of a message: its parts, boundaries and the part
// headers that name files for readers old and new.
#include "mail/message/mime_body.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "mail/message/header_line.h"
#include "mail/message/mailbox.h"
#include "text/base64.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// The pieces joined in one string. Built by appending: mingw's restrict
// warning trips on chains of operator+ with a string_view's copy.
std::string Joined(std::initializer_list<std::string_view> pieces) {
  std::string joined;
  for (std::string_view piece : pieces) joined.append(piece);
  return joined;
}

// A name written as a quoted-string stays on one header line with its
// parameter name; a longer one is written in the extended form, which folds.
constexpr std::size_t kPlainNameLimit = 60;
// Bytes of UTF-8 per encoded-word of a name: 56 characters of base64, so that
// `name="` and the word stay within a folded line.
constexpr std::size_t kNameWordBytes = 42;
// Characters of an RFC 2231 piece, so that `filename*NN*=` and the piece fit.
constexpr std::size_t kExtendedPieceLimit = 48;

// ---------------------------------------------------------------------------
// Names of files.

std::string CleanName(std::string_view name) {
  std::string clean = BlankControls(SanitizeUtf8(name), Controls::kHeader);
  std::string trimmed(TrimBlanks(clean));
  return trimmed.empty() ? "file" : trimmed;
}

bool IsPlainName(std::string_view name) {
  // Quoting adds a backslash before each quote and backslash.
  const std::size_t quoted = name.size() + std::count(name.begin(), name.end(), '"') +
                             std::count(name.begin(), name.end(), '\\');
  if (quoted > kPlainNameLimit || name.find("=?") != std::string_view::npos) return false;
  for (char c : name) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The byte lengths of the characters of `utf8` (valid UTF-8).
std::vector<std::size_t> CharacterSizes(std::string_view utf8) {
  std::vector<std::size_t> sizes;
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t code_point = 0;
    const std::size_t size = std::max<std::size_t>(1, DecodeCodePoint(utf8, pos, &code_point));
    sizes.push_back(size);
    pos += size;
  }
  return sizes;
}

// RFC 2231 attribute-char punctuation: with letters and digits, what a
// parameter value may hold unencoded.
constexpr std::string_view kAttributePunctuation = "!#$&+-.^_`{|}~";
// What a cid: URL (RFC 2392) keeps as it is; the rest is also unsafe inside
// an HTML attribute.
constexpr std::string_view kUrlPunctuation = ".-_~@";

// `bytes` with every byte but ASCII letters, digits and `plain_punctuation`
// written as %XX.
std::string PercentEncoded(std::string_view bytes, std::string_view plain_punctuation) {
  std::string out;
  for (char c : bytes) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       plain_punctuation.find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      out += escaped;
    }
  }
  return out;
}

// `name=` as older mailers read it: a quoted-string, or RFC 2047
// encoded-words inside the quotes (folding between them adds only a blank,
// which a decoder drops between encoded-words).
std::vector<std::string> NameWords(std::string_view name) {
  if (IsPlainName(name)) return {"name=" + QuotedString(name)};
  std::vector<std::string> words;
  std::string chunk;
  auto flush = [&] {
    words.push_back("=?UTF-8?B?" + EncodeBase64(chunk) + "?=");
    chunk.clear();
  };
  std::size_t pos = 0;
  for (std::size_t size : CharacterSizes(name)) {
    if (chunk.size() + size > kNameWordBytes) flush();
    chunk.append(name.substr(pos, size));
    pos += size;
  }
  flush();
  words.front() = "name=\"" + words.front();
  words.back() += "\"";
  return words;
}

// `filename` as RFC 2231 readers take it: one parameter, or one per piece
// when long.
std::vector<std::string> FilenameParameters(std::string_view name) {
  if (IsPlainName(name)) return {"filename=" + QuotedString(name)};
  std::vector<std::string> pieces = detail::ExtendedParameterPieces(name, kExtendedPieceLimit);
  if (pieces.size() == 1) return {"filename*=" + pieces.front()};
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    pieces[i] = "filename*" + std::to_string(i) + "*=" + pieces[i];
  }
  return pieces;
}

// ---------------------------------------------------------------------------
// Headers and boundaries.

// A header's value and parameters, each a run of words (a parameter may
// be folded between its words).
using HeaderItems = std::vector<std::vector<std::string>>;

// A header of items separated by "; ".
void WriteParameterHeader(std::string* out, std::string_view line_end, std::string_view name,
                          const HeaderItems& items) {
  HeaderLine line(out, line_end, name);
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (std::size_t j = 0; j < items[i].size(); ++j) {
      const bool ends_item = j + 1 == items[i].size() && i + 1 < items.size();
      line.AddWord(ends_item ? items[i][j] + ";" : items[i][j]);
    }
  }
  line.End();
}

void WriteBase64Text(std::string* out, std::string_view line_end, std::string_view text) {
  // The text keeps its controls (line breaks, tabs) but not malformed bytes,
  // since it is declared as UTF-8.
  const std::string encoded = EncodeBase64(SanitizeUtf8(text));
  for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
    *out += std::string_view(encoded).substr(i, kBase64LineLength);
    *out += line_end;
  }
}

// 64 bits that differ from message to message (FNV-1a of the Message-ID),
// in hexadecimal.
std::string BoundaryToken(std::string_view message_id) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : message_id) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

// The URL form of a Content-ID (RFC 2392): what a URL may not hold is
// percent-encoded; this also keeps it safe inside an HTML attribute.
std::string ContentIdUrl(std::string_view content_id) {
  return "cid:" + PercentEncoded(content_id, kUrlPunctuation);
}

// ---------------------------------------------------------------------------
// The parts of one message.

using FilePointer = std::shared_ptr<const AttachedFile>;

// What goes where: each file once, in its first place.
struct PartPlan {
  std::vector<FilePointer> images;       // the related parts, in order
  std::vector<std::string> content_ids;  // one per image part
  std::vector<std::string> image_ids;    // one per place in the HTML
  std::vector<FilePointer> attachments;  // the mixed parts after the first
};

std::size_t IndexOf(const std::vector<FilePointer>& files, const FilePointer& file) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i] == file) return i;
  }
  return files.size();
}

PartPlan PlanParts(const MimeContent& content) {
  PartPlan plan;
  if (!content.html.empty() && content.images != nullptr) {
    for (const InlineImage& image : *content.images) {
      if (image.file == nullptr) continue;
      std::size_t index = IndexOf(plan.images, image.file);
      if (index == plan.images.size()) {
        plan.images.push_back(image.file);
        plan.content_ids.push_back("part" + std::to_string(index + 1) + "." +
                                   std::string(content.message_id));
      }
      plan.image_ids.push_back(plan.content_ids[index]);
    }
  }
  if (content.attachments != nullptr) {
    for (const FilePointer& file : *content.attachments) {
      if (file == nullptr || IndexOf(plan.images, file) < plan.images.size() ||
          IndexOf(plan.attachments, file) < plan.attachments.size()) {
        continue;
      }
      plan.attachments.push_back(file);
    }
  }
  return plan;
}

class BodyWriter {
 public:
  BodyWriter(MessageSegments* message, const MimeContent& content)
      : message_(message),
        content_(content),
        plan_(PlanParts(content)),
        token_(BoundaryToken(content.message_id)) {}

  void Write() {
    if (!plan_.attachments.empty()) {
      WriteMixed();
    } else {
      WriteAlternativeOrText();
    }
  }

 private:
  std::string Boundary(std::string_view kind) const {
    return Joined({"=_pinemail_", kind, "_", token_});
  }
  std::string_view line_end() const { return message_->line_end(); }

  void Line(std::string_view text) {
    message_->Append(text);
    message_->Append(line_end());
  }

  // Headers of a multipart entity, then its empty line.
  void StartMultipart(std::string_view subtype, std::string_view boundary,
                      std::string_view related_type = {}) {
    HeaderItems items = {{Joined({"multipart/", subtype})}};
    if (!related_type.empty()) items.push_back({Joined({"type=\"", related_type, "\""})});
    items.push_back({Joined({"boundary=\"", boundary, "\""})});
    WriteParameterHeader(message_->text(), line_end(), "Content-Type", items);
    Line("");
  }
  void Delimiter(std::string_view boundary) { Line(Joined({"--", boundary})); }
  void CloseDelimiter(std::string_view boundary) { Line(Joined({"--", boundary, "--"})); }

  void WriteTextPart(std::string_view media_type, std::string_view text, bool in_multipart) {
    WriteParameterHeader(message_->text(), line_end(), "Content-Type",
                         {{std::string(media_type)}, {"charset=UTF-8"}});
    WriteParameterHeader(message_->text(), line_end(), "Content-Transfer-Encoding", {{"base64"}});
    Line("");
    WriteBase64Text(message_->text(), line_end(), text);
    // Inside a multipart, the line end before a delimiter belongs to it: an
    // empty part keeps a line of its own so that its header section ends.
    if (in_multipart && text.empty()) Line("");
  }

  void WriteFilePart(const FilePointer& file, std::string_view disposition,
                     std::string_view content_id) {
    const std::string name = CleanName(file->name);
    HeaderItems disposition_items = {{std::string(disposition)}};
    for (std::string& parameter : FilenameParameters(name)) {
      disposition_items.push_back({std::move(parameter)});
    }
    WriteParameterHeader(message_->text(), line_end(), "Content-Type",
                         {{file->media_type}, NameWords(name)});
    WriteParameterHeader(message_->text(), line_end(), "Content-Disposition", disposition_items);
    if (!content_id.empty()) {
      WriteParameterHeader(message_->text(), line_end(), "Content-ID",
                           {{Joined({"<", content_id, ">"})}});
    }
    WriteParameterHeader(message_->text(), line_end(), "Content-Transfer-Encoding", {{"base64"}});
    Line("");
    message_->AppendEncoded(file);
    if (file->base64.empty()) Line("");
  }

  void WriteRelated() {
    const std::string boundary = Boundary("rel");
    StartMultipart("related", boundary, "text/html");
    Delimiter(boundary);
    std::vector<std::string> urls;
    for (const std::string& id : plan_.image_ids) urls.push_back(ContentIdUrl(id));
    WriteTextPart("text/html", detail::HtmlWithContentIds(content_.html, *content_.images, urls),
                  true);
    for (std::size_t i = 0; i < plan_.images.size(); ++i) {
      Delimiter(boundary);
      WriteFilePart(plan_.images[i], "inline", plan_.content_ids[i]);
    }
    CloseDelimiter(boundary);
  }

  void WriteAlternativeOrText() {
    if (content_.html.empty()) {
      WriteTextPart("text/plain", content_.text, false);
      return;
    }
    const std::string boundary = Boundary("alt");
    StartMultipart("alternative", boundary);
    Delimiter(boundary);
    WriteTextPart("text/plain", content_.text, true);
    Delimiter(boundary);
    if (plan_.images.empty()) {
      WriteTextPart("text/html", content_.html, true);
    } else {
      WriteRelated();
    }
    CloseDelimiter(boundary);
  }

  void WriteMixed() {
    const std::string boundary = Boundary("mix");
    StartMultipart("mixed", boundary);
    Delimiter(boundary);
    WriteAlternativeOrText();
    for (const FilePointer& file : plan_.attachments) {
      Delimiter(boundary);
      WriteFilePart(file, "attachment", {});
    }
    CloseDelimiter(boundary);
  }

  MessageSegments* message_;
  const MimeContent& content_;
  PartPlan plan_;
  std::string token_;
};

}  // namespace

void WriteMimeBody(MessageSegments* message, const MimeContent& content) {
  BodyWriter(message, content).Write();
}

namespace detail {

std::string HtmlWithContentIds(std::string_view html, const std::vector<InlineImage>& images,
                               const std::vector<std::string>& content_ids) {
  std::string out;
  out.reserve(html.size());
  std::size_t done = 0;
  std::size_t id = 0;
  for (const InlineImage& image : images) {
    if (image.file == nullptr) continue;
    const std::string_view url = id < content_ids.size() ? content_ids[id] : std::string_view();
    ++id;
    if (image.offset < done || image.offset > html.size() ||
        image.length > html.size() - image.offset) {
      continue;
    }
    out.append(html.substr(done, image.offset - done)).append(url);
    done = image.offset + image.length;
  }
  out.append(html.substr(done));
  return out;
}

std::vector<std::string> ExtendedParameterPieces(std::string_view utf8, std::size_t piece_limit) {
  std::vector<std::string> pieces(1, "UTF-8''");
  std::size_t piece_length = 0;
  std::size_t pos = 0;
  for (std::size_t size : CharacterSizes(utf8)) {
    std::string encoded = PercentEncoded(utf8.substr(pos, size), kAttributePunctuation);
    pos += size;
    if (piece_length > 0 && piece_length + encoded.size() > piece_limit) {
      pieces.emplace_back();
      piece_length = 0;
    }
    pieces.back() += encoded;
    piece_length += encoded.size();
  }
  return pieces;
}

}  // namespace detail
}  // namespace pinemail
