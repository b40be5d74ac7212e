// A message's own text and the shared encoded files between it.
#include "mail/message/message_segments.h"

#include <algorithm>
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

// Whole lines of `base64` from `*offset` on, at least one, until `out`
// holds `size` bytes; the lines of full length are copied into place at
// once.
void MessageSegments::AppendLines(std::string_view base64, std::size_t* offset, std::size_t size,
                                  std::string* out) const {
  const std::size_t line_size = kBase64LineLength + line_end_.size();
  const std::size_t wanted = size > out->size() ? size - out->size() : 0;
  const std::size_t full_lines =
      std::min((wanted + line_size - 1) / line_size, (base64.size() - *offset) / kBase64LineLength);
  std::size_t at = out->size();
  out->resize(at + full_lines * line_size);
  for (std::size_t line = 0; line < full_lines; ++line, at += line_size) {
    base64.copy(out->data() + at, kBase64LineLength, *offset);
    line_end_.copy(out->data() + at + kBase64LineLength, line_end_.size());
    *offset += kBase64LineLength;
  }
  if (full_lines == 0 && *offset < base64.size()) {
    out->append(base64.substr(*offset)).append(line_end_);
    *offset = base64.size();
  }
}

bool MessageSegments::Read(Cursor* cursor, std::string* out, std::size_t size) const {
  const std::size_t before = out->size();
  while (out->size() < size && cursor->segment < segments_.size()) {
    const Segment& segment = segments_[cursor->segment];
    const std::string_view bytes =
        segment.file == nullptr ? std::string_view(segment.text) : segment.file->base64;
    if (segment.file == nullptr) {
      const std::size_t take = std::min(bytes.size() - cursor->offset, size - out->size());
      out->append(bytes.substr(cursor->offset, take));
      cursor->offset += take;
    } else {
      AppendLines(bytes, &cursor->offset, size, out);
    }
    if (cursor->offset >= bytes.size()) *cursor = Cursor{cursor->segment + 1, 0};
  }
  return out->size() > before;
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
