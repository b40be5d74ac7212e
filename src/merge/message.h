// One message as a transport takes it: recipient, subject and text, and
// optionally an HTML part, its inline images and attached files.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "merge/attached_file.h"

namespace pinemail {

// An image that the HTML part shows: the value of an <img src> attribute,
// which the message writer replaces by the image part's "cid:" address.
struct InlineImage {
  std::size_t offset = 0;  // where the attribute's value starts in the HTML
  std::size_t length = 0;  // its length in bytes
  std::shared_ptr<const AttachedFile> file;
};

struct OutgoingMessage {
  std::string recipient_name;     // display name (field 2)
  std::string recipient_address;  // address (field 1)
  std::string subject;
  std::string text;  // MailBanner followed by the substituted body (CR LF lines)
  // The left part of the Message-ID (before "@"): the run's id and the
  // record's identity, so that a message sent again by a resumed run carries
  // the same Message-ID. Empty: a new unique one.
  std::string message_key = {};
  // UTF-8 HTML, the alternative to `text`; empty: a text-only message.
  std::string html = {};
  // The images the HTML shows, in the order of their place in it.
  std::vector<InlineImage> inline_images = {};
  // The files attached to the message, in order.
  std::vector<std::shared_ptr<const AttachedFile>> attachments = {};
};

}  // namespace pinemail
