// Adds the HTML part, its images and the attachments to a record's message.
#include "merge/rich_message.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "config/startup.h"
#include "merge/html_template.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

// The folder that holds `path`, ending in its separator.
std::string FolderOf(const std::string& path) {
  return WithTrailingSeparator(Utf8FromPath(PathFromUtf8(path).parent_path()));
}

bool AddHtml(OutgoingMessage* message, const RecipientRecord& record,
             const std::string& template_path, const KeywordTable& table, const RichSetup& setup,
             AttachedFileCache& cache, std::string* reason) {
  const std::string companion = FindHtmlCompanion(template_path);
  if (companion.empty()) return true;
  std::string page;
  if (!ReadHtmlTemplate(companion, &page)) {
    *reason = "HTML ファイルを読めません: " + companion;
    return false;
  }
  std::string html = ComposeHtml(page, table, record.values, setup.banner);
  HtmlImages images = LoadHtmlImages(html, FolderOf(template_path), cache);
  if (!images.reason.empty()) {
    *reason = "画像を添付できません: " + images.reason;
    return false;
  }
  message->html = std::move(html);
  message->inline_images = std::move(images.images);
  return true;
}

bool AddAttachments(OutgoingMessage* message, const RecipientRecord& record, const RichSetup& setup,
                    AttachedFileCache& cache, std::string* reason) {
  auto resolve = [&setup](std::string_view name) {
    return ResolveTemplatePath(name, setup.app_folder);
  };
  RecordFiles files = LoadRecordAttachments(setup.attach_positions, record, resolve, cache);
  if (!files.reason.empty()) {
    *reason = "ファイルを添付できません: " + files.reason;
    return false;
  }
  message->attachments = std::move(files.files);
  return true;
}

}  // namespace

bool AddRichParts(OutgoingMessage* message, const RecipientRecord& record,
                  const std::string& template_path, const KeywordTable& table,
                  const RichSetup& setup, AttachedFileCache& cache, std::string* reason) {
  return AddAttachments(message, record, setup, cache, reason) &&
         AddHtml(message, record, template_path, table, setup, cache, reason);
}

std::vector<std::shared_ptr<const AttachedFile>> FilesOf(const OutgoingMessage& message) {
  std::vector<std::shared_ptr<const AttachedFile>> files;
  auto add = [&files](const std::shared_ptr<const AttachedFile>& file) {
    if (file != nullptr && std::find(files.begin(), files.end(), file) == files.end()) {
      files.push_back(file);
    }
  };
  for (const auto& file : message.attachments) add(file);
  for (const InlineImage& image : message.inline_images) add(image.file);
  return files;
}

}  // namespace pinemail
