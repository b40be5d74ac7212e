// Loads the files that messages carry and keeps the recent ones encoded.
#include "merge/attached_file_cache.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "merge/html_template.h"
#include "text/file_io.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// What the directory entry says about a file before it is read.
struct FileFacts {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::string reason;  // why it cannot be attached; empty when it can
};

FileFacts Examine(const std::string& path) {
  FileFacts facts;
  std::error_code error;
  const std::filesystem::path native = PathFromUtf8(path);
  const std::filesystem::file_status status = std::filesystem::status(native, error);
  if (!std::filesystem::exists(status)) {
    facts.reason = "ファイルがありません: " + path;
  } else if (!std::filesystem::is_regular_file(status)) {
    facts.reason = std::string(kNotRegularFileReason) + ": " + path;
  } else if (facts.size = std::filesystem::file_size(native, error); error) {
    facts.reason = "ファイルを読めません: " + path;
  } else if (facts.size > kAttachmentSizeLimit) {
    facts.reason =
        "ファイルが 10 MiB を超えています (" + std::to_string(facts.size) + " バイト): " + path;
  } else {
    facts.modified = std::filesystem::last_write_time(native, error).time_since_epoch().count();
  }
  return facts;
}

// The whole file, when it still holds at most kAttachmentSizeLimit bytes.
bool ReadWhole(const std::string& path, std::string* content, std::string* reason) {
  File file = OpenFile(path, "rb", reason);
  if (!file) return false;
  char block[64 * 1024];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    content->append(block, got);
    if (content->size() > kAttachmentSizeLimit) {
      *reason = "10 MiB を超えています";
      return false;
    }
  }
  if (std::ferror(file.get()) != 0) {
    *reason = "読み込みに失敗しました";
    return false;
  }
  return true;
}

// One spelling per file however its path is written ("./", "..", links), so
// that a file named twice is held and sent once.
std::string CanonicalPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path canonical =
      std::filesystem::weakly_canonical(PathFromUtf8(path), error);
  return error ? path : Utf8FromPath(canonical);
}

std::string FileNameOf(const std::string& path) {
  return Utf8FromPath(PathFromUtf8(path).filename());
}

}  // namespace

FileLoad AttachedFileCache::Load(const std::string& path) {
  const FileFacts facts = Examine(path);
  if (!facts.reason.empty()) return {nullptr, facts.reason};
  const std::string key = CanonicalPath(path);
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->path != key) continue;
    if (entry->size == facts.size && entry->modified == facts.modified) {
      entries_.splice(entries_.begin(), entries_, entry);
      return {entries_.front().file, {}};
    }
    held_ -= entry->file->base64.size();
    entries_.erase(entry);
    break;
  }
  std::string content;
  std::string reason;
  if (!ReadWhole(path, &content, &reason)) {
    return {nullptr, "ファイルを読めません: " + path + " (" + reason + ")"};
  }
  FileLoad load{EncodeAttachedFile(FileNameOf(path), content, key), {}};
  Remember({key, facts.size, facts.modified, load.file});
  return load;
}

void AttachedFileCache::Remember(Entry entry) {
  held_ += entry.file->base64.size();
  entries_.push_front(std::move(entry));
  while (held_ > budget_ && entries_.size() > 1) {
    held_ -= entries_.back().file->base64.size();
    entries_.pop_back();
  }
}

AttachKeywords FindAttachKeywords(std::string_view attach_list, const KeywordTable& table) {
  AttachKeywords keywords;
  if (TrimBlanks(attach_list).empty()) return keywords;
  std::string_view remainder = attach_list;
  do {
    const std::string_view name = TrimBlanks(PopField(remainder, ','));
    std::string keyword = "%";
    keyword.append(name).append("%");  // appended: mingw's restrict warning on operator+
    if (std::optional<std::size_t> position = table.Find(keyword)) {
      keywords.positions.push_back(*position);
    } else {
      keywords.unknown.emplace_back(name);
    }
  } while (!remainder.empty());
  return keywords;
}

std::string AttachKeywords::Problem() const {
  if (unknown.empty()) return {};
  std::string problem = "Attach Key Word の名前が Subst Key Word にありません:";
  for (const std::string& name : unknown) problem += " " + name;
  return problem;
}

HtmlImages LoadHtmlImages(std::string_view html, std::string_view template_folder,
                          AttachedFileCache& cache) {
  HtmlImages result;
  for (ImageReference& reference : FindImageReferences(html)) {
    FileLoad load = cache.Load(std::string(template_folder) + reference.file_name);
    if (load.file == nullptr) return {{}, std::move(load.reason)};
    result.images.push_back({reference.offset, reference.length, std::move(load.file)});
  }
  return result;
}

}  // namespace pinemail
