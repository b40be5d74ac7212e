// A message's own text and the shared encoded files between it.
#include "mail/message/message_segments.h"

#include <utility>

namespace pinemail {

std::string* MessageSegments::text() {
  if (segments_.empty() || segments_.back().file != nullptr) segments_.emplace_back();
  return &segments_.back().text;
}

void MessageSegments::AppendEncoded(std::shared_ptr<const AttachedFile> file) {
  if (file == nullptr || file->base64.empty()) return;
  segments_.push_back(Segment{{}, std::move(file)});
}

std::uint64_t Base64LinesSize(std::size_t base64_size, std::size_t line_end_size) {
  const std::uint64_t lines = (base64_size + kBase64LineLength - 1) / kBase64LineLength;
  return base64_size + lines * line_end_size;
}

std::uint64_t MessageSegments::size() const {
  std::uint64_t total = 0;
  for (const Segment& segment : segments_) {
    total += segment.file == nullptr
                 ? segment.text.size()
                 : Base64LinesSize(segment.file->base64.size(), line_end_.size());
  }
  return total;
}

std::string MessageSegments::Join() const {
  std::string whole;
  whole.reserve(size());
  ForEach([&whole](std::string_view piece) {
    whole += piece;
    return true;
  });
  return whole;
}

}  // namespace pinemail
