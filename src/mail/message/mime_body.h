// Writes a message's body entity: a text/plain part alone, or the MIME
// structure mixed(alternative(text, related(html, images)), attachments)
// with each level present only when the message needs it.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "mail/message/message_segments.h"
#include "merge/message.h"

namespace pinemail {

// What the body of one message holds.
struct MimeContent {
  std::string_view text;  // UTF-8, CR LF lines; always a part
  std::string_view html;  // UTF-8; empty: no HTML part
  // Ordered, non-overlapping places in `html` of the images it shows.
  const std::vector<InlineImage>* images = nullptr;
  const std::vector<std::shared_ptr<const AttachedFile>>* attachments = nullptr;
  // The message's Message-ID (without brackets): the parts' Content-IDs are
  // made from it, and it varies the boundaries.
  std::string_view message_id;
};

// Appends the body entity's headers (Content-Type, Content-Transfer-Encoding),
// the empty line and its content to `message`. A message with neither HTML
// nor attachments is one text/plain part in base64. Every part is base64,
// and every boundary begins with "=_", which base64 never holds, so no
// boundary can occur in the content. A file carried twice (an inline image
// also named as an attachment, or one attachment named twice) goes once.
void WriteMimeBody(MessageSegments* message, const MimeContent& content);

// Parts of the writer that the tests look at.
namespace detail {

// `html` with each image's attribute value replaced by "cid:" and its
// part's Content-ID (`content_ids[i]` for `images[i]`). Places that do not
// lie in order within `html` are left as they are.
std::string HtmlWithContentIds(std::string_view html, const std::vector<InlineImage>& images,
                               const std::vector<std::string>& content_ids);

// The RFC 2231 value of a parameter (UTF-8''...) cut into pieces of whole
// characters, each at most `piece_limit` characters.
std::vector<std::string> ExtendedParameterPieces(std::string_view utf8, std::size_t piece_limit);

}  // namespace detail
}  // namespace pinemail
