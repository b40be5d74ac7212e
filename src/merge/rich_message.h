// Adds what makes a message more than text: the HTML part from the
// template's companion, the images it shows and the record's attachments.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/attached_file_cache.h"
#include "merge/keywords.h"
#include "merge/message.h"
#include "merge/record.h"

namespace pinemail {

// What a run decides once for the rich parts of its messages.
struct RichSetup {
  std::string app_folder;                     // attachment names resolve from here
  std::vector<std::size_t> attach_positions;  // FindAttachKeywords of "Attach Key Word"
  std::string banner;                         // the text's banner; empty when suppressed
};

// Adds to `message` (composed for `record` from the template at
// `template_path`) the HTML part of the template's companion, when it has
// one, with its inline images, and the files the record names. Files come
// through `cache`, each read and encoded once. False, with the reason, when
// the companion, an image or a file cannot be had: the record must then not
// be sent (a greeting never goes without its card).
bool AddRichParts(OutgoingMessage* message, const RecipientRecord& record,
                  const std::string& template_path, const KeywordTable& table,
                  const RichSetup& setup, AttachedFileCache& cache, std::string* reason);

// Every file `message` carries, each once: its attachments, then the images
// of its HTML part (for a transport that can only attach files).
std::vector<std::shared_ptr<const AttachedFile>> FilesOf(const OutgoingMessage& message);

}  // namespace pinemail
