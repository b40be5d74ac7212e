// Works out the rate and the time left of a run and lays out its progress
// line and summary.
#include "batch/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "text/display_width.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

using std::chrono::seconds;

constexpr std::string_view kGap = "　";
constexpr std::string_view kCut = "...";
// A server's reply is cut rather than dropped while this much of it fits.
constexpr std::size_t kShortestReply = 12;

std::string Count(std::size_t n) { return std::to_string(n); }

seconds CeilSeconds(std::chrono::nanoseconds length) {
  return std::max(seconds{0}, std::chrono::ceil<seconds>(length));
}

std::string RecordsDone(const BatchProgress& counts) {
  std::string text = Count(counts.records);
  if (counts.total) text.append("/").append(Count(*counts.total));
  return text;
}

// "12/500 件処理　送信 10　不備 1　送信失敗 1", as the line and the summary
// begin.
std::string CountsText(const BatchProgress& counts) {
  std::string text = RecordsDone(counts) + " 件処理";
  text += std::string(kGap) + "送信 " + Count(counts.sent);
  text += std::string(kGap) + "不備 " + Count(counts.rejected);
  text += std::string(kGap) + "送信失敗 " + Count(counts.failed);
  if (counts.sent_before > 0) text += std::string(kGap) + "送信済み " + Count(counts.sent_before);
  return text;
}

std::string RateText(double per_minute) {
  char text[32];
  std::snprintf(text, sizeof text, per_minute >= 10 ? "%.0f" : "%.1f", per_minute);
  return std::string(text) + " 通/分";
}

// One part of the line; the parts of lowest priority go first when the line
// is too wide. A server's reply may be cut instead, but not the first
// `kept` bytes of its part (the wait's own words).
struct Part {
  std::string text;
  int priority;
  bool is_reply = false;
  std::size_t kept = 0;
};

std::size_t PartsWidth(const std::vector<Part>& parts, std::string_view gap) {
  std::size_t width = 0;
  for (const Part& part : parts) width += DisplayWidth(part.text);
  if (!parts.empty()) width += DisplayWidth(gap) * (parts.size() - 1);
  return width;
}

std::string JoinParts(const std::vector<Part>& parts, std::string_view gap) {
  std::string text;
  for (const Part& part : parts) {
    if (!text.empty()) text += gap;
    text += part.text;
  }
  return text;
}

// Cuts the reply to what is left of the width; false when not even its
// shortest form fits.
bool CutReply(std::vector<Part>& parts, std::string_view gap, std::size_t width) {
  auto reply = std::find_if(parts.begin(), parts.end(), [](const Part& p) { return p.is_reply; });
  if (reply == parts.end()) return false;
  const std::string whole = reply->text;
  reply->text = whole.substr(0, reply->kept);
  const std::size_t others = PartsWidth(parts, gap);
  if (others + kShortestReply > width) {
    reply->text = whole;
    return false;
  }
  reply->text
      .append(CutToWidth(std::string_view(whole).substr(reply->kept), width - others - kCut.size()))
      .append(kCut);
  return true;
}

// The parts in their order, the least useful dropped (a reply first cut)
// until they fit; the first part is cut itself if need be.
std::string FitParts(std::vector<Part> parts, std::string_view gap, std::size_t width) {
  while (PartsWidth(parts, gap) > width && parts.size() > 1) {
    if (CutReply(parts, gap, width)) break;
    auto lowest =
        std::min_element(parts.begin() + 1, parts.end(),
                         [](const Part& a, const Part& b) { return a.priority < b.priority; });
    parts.erase(lowest);
  }
  return std::string(CutToWidth(JoinParts(parts, gap), width));
}

std::string WaitText(const ProgressView& view, bool compact) {
  const std::string left = Count(static_cast<std::size_t>(view.wait_left.count()));
  switch (*view.wait) {
    case BatchWait::Kind::kPacing:
      return compact ? "待ち" + left + "秒" : "次の送信まで " + left + " 秒";
    case BatchWait::Kind::kStart:
      return compact
                 ? view.until + "開始" + DurationText(view.wait_left, true)
                 : view.until + " に送信を始めます（あと " + DurationText(view.wait_left) + "）";
    case BatchWait::Kind::kDailyLimit:
      return compact ? "上限" + view.until + "再開"
                     : "1日の送信上限に達しました。" + view.until + " に再開します（あと " +
                           DurationText(view.wait_left) + "）";
    case BatchWait::Kind::kRetry:
    case BatchWait::Kind::kBackOff:
      break;
  }
  return compact ? "再送まで" + left + "秒" : left + " 秒後にもう一度送ります:";
}

bool ShowsReply(const ProgressView& view) {
  return view.wait &&
         (*view.wait == BatchWait::Kind::kRetry || *view.wait == BatchWait::Kind::kBackOff) &&
         !view.reply.empty();
}

std::vector<Part> FullParts(const ProgressView& view) {
  const ProgressParts texts = ProgressLineParts(view);
  std::vector<Part> parts{{texts.counts, 9}};
  if (!texts.rate.empty()) parts.push_back({texts.rate, 5});
  if (!texts.time_left.empty()) parts.push_back({texts.time_left, 8});
  if (!texts.wait.empty()) {
    parts.push_back({texts.wait, 7});
    if (ShowsReply(view)) {
      // The wait's own words and the blank before the reply are never cut.
      parts.back().kept = WaitText(view, false).size() + 1;
      parts.back().is_reply = true;
    }
  }
  return parts;
}

std::vector<Part> ShortParts(const ProgressView& view) {
  const BatchProgress& counts = view.counts;
  std::vector<Part> parts{{RecordsDone(counts), 9}, {"送信" + Count(counts.sent), 7}};
  if (counts.rejected > 0) parts.push_back({"不備" + Count(counts.rejected), 3});
  if (counts.failed > 0) parts.push_back({"失敗" + Count(counts.failed), 4});
  if (view.time_left) parts.push_back({"残り" + DurationText(*view.time_left, true), 8});
  if (view.wait) parts.push_back({WaitText(view, true), 6});
  if (ShowsReply(view)) {
    parts.push_back({BlankControls(view.reply), 1, true});
  }
  return parts;
}

}  // namespace

void ProgressMeter::Update(const BatchProgress& progress, PaceClock::time_point now) {
  progress_ = progress;
  const std::size_t handled = progress.records - progress.sent_before;
  if (handled > handled_) {
    done_.push_back(now);
    if (done_.size() > kWindow) done_.pop_front();
  }
  handled_ = handled;
}

void ProgressMeter::StartWait(const BatchWait& wait, PaceClock::time_point now) {
  wait_ = wait;
  wait_end_ = now + wait.length;
}

std::optional<double> ProgressMeter::PerMinute() const {
  if (done_.size() < 2) return std::nullopt;
  const std::chrono::duration<double> span = done_.back() - done_.front();
  if (span.count() <= 0) return std::nullopt;
  return static_cast<double>(done_.size() - 1) * 60.0 / span.count();
}

ProgressView ProgressMeter::View(PaceClock::time_point now) const {
  ProgressView view;
  view.counts = progress_;
  view.per_minute = PerMinute();
  seconds wait_left{0};
  if (wait_) {
    // Never "0" while the wait lasts: its sleep may end a little after the
    // length announced.
    wait_left = std::max(seconds{1}, CeilSeconds(wait_end_ - now));
    view.wait = wait_->kind;
    view.wait_left = wait_left;
    view.reply = wait_->reply;
    view.until = wait_->until;
  }
  if (!progress_.total) return view;
  const std::size_t left = *progress_.total - std::min(*progress_.total, progress_.records);
  if (left == 0) {
    view.time_left = seconds{0};
    return view;
  }
  const std::chrono::nanoseconds paced =
      progress_.send_gap * static_cast<std::chrono::nanoseconds::rep>(left);
  if (!view.per_minute && paced.count() == 0) return view;
  std::chrono::duration<double> measured{0};
  if (view.per_minute) measured = std::chrono::duration<double>(60.0 * left / *view.per_minute);
  auto estimate = std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(measured), paced);
  if (wait_ && wait_->kind != BatchWait::Kind::kPacing) estimate += wait_left;
  view.time_left = CeilSeconds(estimate);
  return view;
}

std::string DurationText(seconds length, bool compact) {
  const long long total = std::max(0LL, static_cast<long long>(length.count()));
  const std::string_view gap = compact ? "" : " ";
  auto unit = [&](long long n, std::string_view name) {
    std::string text = std::to_string(n);
    text.append(gap).append(name);
    return text;
  };
  if (total < 60) return unit(total, "秒");
  if (total < 3600) {
    if (compact) return unit((total + 59) / 60, "分");
    std::string text = unit(total / 60, "分");
    if (total % 60 != 0) text.append(" ").append(unit(total % 60, "秒"));
    return text;
  }
  const long long minutes = compact ? (total + 59) / 60 : total / 60;
  std::string text = unit(minutes / 60, "時間");
  if (minutes % 60 != 0) text.append(gap).append(unit(minutes % 60, "分"));
  return text;
}

ProgressParts ProgressLineParts(const ProgressView& view) {
  ProgressParts parts;
  parts.counts = CountsText(view.counts);
  if (view.per_minute) parts.rate = RateText(*view.per_minute);
  if (view.time_left) parts.time_left = "残り " + DurationText(*view.time_left);
  if (view.wait) parts.wait = WaitText(view, false);
  // Joined to the wait's text by a blank.
  if (ShowsReply(view)) parts.wait.append(" ").append(BlankControls(view.reply));
  return parts;
}

std::string ProgressLineText(const ProgressView& view, std::size_t columns) {
  const std::size_t width = columns > 0 ? columns - 1 : 0;
  std::vector<Part> full = FullParts(view);
  if (PartsWidth(full, kGap) <= width) return JoinParts(full, kGap);
  std::vector<Part> cut = full;
  if (CutReply(cut, kGap, width) && PartsWidth(cut, kGap) <= width) return JoinParts(cut, kGap);
  return FitParts(ShortParts(view), " ", width);
}

SummaryParts SummaryLineParts(BatchOutcome outcome, const BatchProgress& totals, seconds elapsed,
                              const std::string& log_path) {
  SummaryParts parts;
  parts.outcome = outcome == BatchOutcome::kStoppedEarly ? "中断しました" : "完了";
  parts.counts = CountsText(totals);
  parts.elapsed = "経過 " + DurationText(elapsed);
  parts.log = "ログ: " + BlankControls(log_path);
  if (!totals.stop_reason.empty())
    parts.stop_line = "送信を中断しました。(" + totals.stop_reason + ")";
  return parts;
}

std::string SummaryText(BatchOutcome outcome, const BatchProgress& totals, seconds elapsed,
                        const std::string& log_path) {
  const SummaryParts parts = SummaryLineParts(outcome, totals, elapsed, log_path);
  const std::string gap(kGap);
  std::string text = parts.outcome + gap + parts.counts + gap + parts.elapsed + gap + parts.log;
  if (!parts.stop_line.empty()) text += "\n" + parts.stop_line;
  return text;
}

}  // namespace pinemail
