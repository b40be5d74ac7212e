// The check's transport and report, the preview's folder and the test's
// messages.
#include "batch/dry_runs.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "config/startup.h"
#include "mail/message/message_writer.h"
#include "mail/transport_factory.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

namespace fs = std::filesystem;

// A name the outbox gives a message ("00000001.eml") or a file it writes
// first ("/.pinemail-123-4.tmp").
bool IsPreviewFileName(std::string_view name) {
  if (name.starts_with(".pinemail-") && name.ends_with(".tmp")) return true;
  constexpr std::string_view kExtension = ".eml";
  if (name.size() <= kExtension.size() || !name.ends_with(kExtension)) return false;
  name.remove_suffix(kExtension.size());
  return name.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string FindingLine(const DeliverabilityFinding& finding) {
  switch (finding.kind) {
    case DeliverabilityFinding::Kind::kError:
      return "エラー: " + finding.text;
    case DeliverabilityFinding::Kind::kAdvice:
      return "助言: " + finding.text;
    case DeliverabilityFinding::Kind::kWarning:
      break;
  }
  return "警告: " + finding.text;
}

}  // namespace

CheckingTransport::CheckingTransport(std::unique_ptr<MailTransport> inner, Mailbox from,
                                     MessageStamps stamps,
                                     std::vector<DeliverabilityRecipient>* noted)
    : inner_(std::move(inner)), from_(std::move(from)), stamps_(std::move(stamps)), noted_(noted) {}

MailResult CheckingTransport::Send(const OutgoingMessage& message) {
  MailResult checked = inner_->Check(message);
  if (!checked.ok()) return checked;
  const std::uint64_t size = WriteMessageSegments(FieldsFor(message, from_, stamps_)).size();
  noted_->push_back({message.recipient_address, static_cast<std::size_t>(size)});
  return MailResult::Done();
}

std::string PreviewFolder(const std::string& app_folder) {
  return WithTrailingSeparator(app_folder + "preview");
}

bool ClearPreviewFolder(const std::string& folder, std::string* reason) {
  std::error_code error;
  const fs::path path = PathFromUtf8(folder);
  if (!fs::exists(fs::symlink_status(path, error))) return true;
  if (!IsFolder(folder)) {
    *reason = "フォルダではありません: " + folder;
    return false;
  }
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    std::error_code kind_error;
    if (!IsPreviewFileName(name) || !it->is_regular_file(kind_error)) continue;
    if (!fs::remove(it->path(), error)) break;
  }
  if (!error) return true;
  *reason = error.message();
  return false;
}

Settings PreviewSettings(Settings settings, const std::string& folder) {
  TransportConfig configured;
  const bool mapi =
      ReadTransportConfig(settings, PlatformDefaultTransport(), &configured, nullptr) &&
      configured.kind == TransportKind::kMapi;
  settings.mail_server = "outbox:" + folder;
  settings.auth.clear();
  settings.password_command.clear();
  // Through MAPI the mail client puts in the sender, so the settings need
  // name none; the preview's messages then say so in their From.
  TransportConfig preview;
  if (mapi && !ReadTransportConfig(settings, PlatformDefaultTransport(), &preview, nullptr)) {
    settings.from = std::string(kMailClientSender);
  }
  return settings;
}

void MakeTestMessage(OutgoingMessage* message, const std::string& address) {
  message->recipient_address = address;
  message->subject = std::string(kTestSubjectPrefix) + message->subject;
}

PreflightReport Preflight(const Settings& settings,
                          const std::vector<DeliverabilityRecipient>& recipients, TxtLookup& dns) {
  // Messages kept in an outbox meet no receiver.
  TransportConfig config;
  if (!ReadTransportConfig(settings, PlatformDefaultTransport(), &config, nullptr) ||
      config.kind == TransportKind::kOutbox) {
    return {};
  }
  DeliverabilityInput input;
  input.from_address = config.sender.address;
  if (config.kind == TransportKind::kSmtp || config.kind == TransportKind::kSmtps) {
    input.smtp_host = config.target;
  }
  input.recipients = recipients;
  PreflightReport report;
  for (const DeliverabilityFinding& finding : CheckDeliverability(input, dns)) {
    report.lines.push_back(FindingLine(finding));
    report.refused = report.refused || finding.kind == DeliverabilityFinding::Kind::kError;
  }
  return report;
}

std::string CheckSummaryLine(std::size_t records, std::size_t not_going) {
  const std::string total = std::to_string(records);
  if (not_going == 0) return "確認を終えました。全 " + total + " 件を送信できます。";
  return "確認を終えました。全 " + total + " 件のうち " + std::to_string(not_going) +
         " 件は送信できません。";
}

std::string TestSummaryLine(std::size_t sent, std::size_t not_sent, const std::string& address) {
  std::string line =
      "テスト送信を終えました。" + std::to_string(sent) + " 通を " + address + " に送信しました。";
  if (not_sent > 0) line += std::to_string(not_sent) + " 件は送信できませんでした。";
  return line;
}

std::vector<std::string> PreviewSummaryLines(std::size_t written, std::size_t not_made,
                                             const std::string& folder) {
  std::vector<std::string> lines{"プレビュー: " + std::to_string(written) + " 通を " + folder +
                                 " に書き出しました。"};
  if (not_made > 0) {
    lines.push_back("送信できないレコードが " + std::to_string(not_made) +
                    " 件あります。理由は /check で確かめられます。");
  }
  return lines;
}

std::unique_ptr<MailTransport> MakeRunTransport(const BatchEnvironment& env,
                                                const Settings& settings,
                                                std::vector<DeliverabilityRecipient>* checked,
                                                BatchProgress* progress, std::string* reason) {
  if (!env.make_transport) return nullptr;
  if (env.kind == RunKind::kPreview) {
    const std::string folder = PreviewFolder(env.app_folder);
    progress->preview_folder = folder;
    if (!ClearPreviewFolder(folder, reason)) return nullptr;
    return env.make_transport(PreviewSettings(settings, folder), reason);
  }
  std::unique_ptr<MailTransport> transport = env.make_transport(settings, reason);
  if (!transport || env.kind != RunKind::kCheck) return transport;
  TransportConfig config;
  ReadTransportConfig(settings, PlatformDefaultTransport(), &config, nullptr);
  return std::make_unique<CheckingTransport>(std::move(transport), config.sender,
                                             SystemMessageStamps(), checked);
}

BatchOutcome ConcludeDryRun(const BatchEnvironment& env, const Settings& settings,
                            const std::vector<DeliverabilityRecipient>& checked,
                            BatchOutcome outcome, BatchProgress* progress, LogBlock* block) {
  if (env.kind != RunKind::kCheck && env.kind != RunKind::kTest) return outcome;
  const std::size_t not_going = progress->rejected + progress->failed;
  if (env.kind == RunKind::kCheck && env.dns) {
    const PreflightReport preflight = Preflight(settings, checked, *env.dns);
    for (const std::string& line : preflight.lines) block->Line(line);
    progress->summary = preflight.lines;
    if (preflight.refused) outcome = BatchOutcome::kSomeNotSent;
  }
  const std::string summary = env.kind == RunKind::kCheck
                                  ? CheckSummaryLine(progress->records, not_going)
                                  : TestSummaryLine(progress->sent, not_going, env.test_address);
  progress->summary.insert(progress->summary.begin(), summary);
  block->Line(summary).Line();
  return outcome;
}

}  // namespace pinemail
