// Reads the files that messages carry, once per run: a file is read and
// encoded again only when its size or modification time has changed.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/attached_file.h"
#include "merge/keywords.h"
#include "merge/message.h"
#include "merge/record.h"

namespace pinemail {

// A file loaded for a message, or why it cannot go.
struct FileLoad {
  std::shared_ptr<const AttachedFile> file;  // null on failure
  std::string reason;                        // why, for the log; empty on success
};

class AttachedFileCache {
 public:
  // Encoded files beyond this many bytes are dropped, least recently used
  // first, so that a list of files of its own per record does not gather
  // them all in memory. A file that messages still hold stays alive anyway.
  static constexpr std::uint64_t kDefaultBudget = 8 * 1024 * 1024;

  explicit AttachedFileCache(std::uint64_t budget = kDefaultBudget) : budget_(budget) {}

  // The file at `path` (UTF-8), encoded. Fails with a reason when it is
  // missing, not a regular file, over kAttachmentSizeLimit or unreadable.
  FileLoad Load(const std::string& path);

 private:
  struct Entry {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::shared_ptr<const AttachedFile> file;
  };

  void Remember(Entry entry);

  std::uint64_t budget_;
  std::uint64_t held_ = 0;
  std::list<Entry> entries_;  // most recently used first
};

// The keywords that the "Attach Key Word" list names (comma-separated
// names, blanks trimmed): their positions in `table`, and the names that are
// not keywords of the table (a misspelt name would otherwise send every
// greeting without its card; the run refuses to start with them).
struct AttachKeywords {
  std::vector<std::size_t> positions;
  std::vector<std::string> unknown;
  // Why the run cannot start; empty when every name is a keyword.
  std::string Problem() const;
};
AttachKeywords FindAttachKeywords(std::string_view attach_list, const KeywordTable& table);

// The files that `record` attaches: for each position, the record's value
// (empty: nothing) resolved by `resolve` and loaded through `cache`. Fails at
// the first file that cannot be attached, with its reason.
struct RecordFiles {
  std::vector<std::shared_ptr<const AttachedFile>> files;
  std::string reason;  // empty when every file could be loaded
};
template <typename Resolve>
RecordFiles LoadRecordAttachments(const std::vector<std::size_t>& positions,
                                  const RecipientRecord& record, Resolve&& resolve,
                                  AttachedFileCache& cache) {
  RecordFiles result;
  for (std::size_t position : positions) {
    if (position >= record.values.size() || record.values[position].empty()) continue;
    FileLoad load = cache.Load(resolve(record.values[position]));
    if (load.file == nullptr) return {{}, std::move(load.reason)};
    result.files.push_back(std::move(load.file));
  }
  return result;
}

// The inline images of `html` (a composed HTML part): each relative
// <img src> loaded from `template_folder` (which ends in its separator).
// Fails at the first image that cannot be loaded, with its reason.
struct HtmlImages {
  std::vector<InlineImage> images;
  std::string reason;
};
HtmlImages LoadHtmlImages(std::string_view html, std::string_view template_folder,
                          AttachedFileCache& cache);

}  // namespace pinemail
