// Recognises a file's media type by its content and encodes it for messages.
#include "merge/attached_file.h"

#include <array>
#include <utility>

#include "text/base64.h"

namespace pinemail {
namespace {

struct Signature {
  std::size_t offset;
  std::string_view bytes;
};

struct KnownType {
  std::string_view media_type;
  std::array<Signature, 2> signatures;  // all must match; an empty one matches anything
};

// The magic numbers of the types a mailer treats apart from other files.
constexpr std::array<KnownType, 6> kKnownTypes = {{
    {"image/jpeg", {{{0, "\xFF\xD8\xFF"}, {0, ""}}}},
    {"image/png", {{{0, "\x89PNG\r\n\x1A\n"}, {0, ""}}}},
    {"image/gif", {{{0, "GIF87a"}, {0, ""}}}},
    {"image/gif", {{{0, "GIF89a"}, {0, ""}}}},
    {"image/webp", {{{0, "RIFF"}, {8, "WEBP"}}}},
    {"application/pdf", {{{0, "%PDF-"}, {0, ""}}}},
}};

bool Matches(std::string_view content, const Signature& signature) {
  return content.size() >= signature.offset + signature.bytes.size() &&
         content.substr(signature.offset, signature.bytes.size()) == signature.bytes;
}

}  // namespace

std::string_view MediaTypeOf(std::string_view content) {
  for (const KnownType& type : kKnownTypes) {
    if (Matches(content, type.signatures[0]) && Matches(content, type.signatures[1])) {
      return type.media_type;
    }
  }
  return "application/octet-stream";
}

std::shared_ptr<const AttachedFile> EncodeAttachedFile(std::string name, std::string_view content,
                                                       std::string path) {
  auto file = std::make_shared<AttachedFile>();
  file->name = std::move(name);
  file->media_type = MediaTypeOf(content);
  file->size = content.size();
  file->base64 = EncodeBase64(content);
  file->path = std::move(path);
  return file;
}

}  // namespace pinemail
