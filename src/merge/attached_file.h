// A file that messages carry as a part (an attachment or an inline image),
// encoded once and shared by every message that carries it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace pinemail {

// The largest file a message may carry (each file on its own).
inline constexpr std::uint64_t kAttachmentSizeLimit = 10 * 1024 * 1024;

// One file as the message writer takes it. Immutable once made: messages
// hold it through std::shared_ptr<const AttachedFile>, so that a card sent
// with 10,000 messages is held and encoded once.
struct AttachedFile {
  std::string name;        // the file's own name (UTF-8), as the reader sees it
  std::string media_type;  // by content (MediaTypeOf)
  std::uint64_t size = 0;  // bytes of the file
  std::string base64;      // the content in base64, without line breaks
  std::string path = {};   // where it was read from (canonical): Simple MAPI attaches by path
};

// The media type of a file's content, by its first bytes: image/jpeg,
// image/png, image/gif, image/webp, application/pdf; anything else is
// application/octet-stream. A file's name never decides it: a mailer shows
// an image inline only when its type is true.
std::string_view MediaTypeOf(std::string_view content);

// `content` (read from `path`) encoded as a part named `name`.
std::shared_ptr<const AttachedFile> EncodeAttachedFile(std::string name, std::string_view content,
                                                       std::string path = {});

}  // namespace pinemail
