// Tests of the batch run over a recording transport in a scratch program folder.
#include "batch/run_batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "batch/dry_runs.h"
#include "batch/journal.h"
#include "batch/local_time.h"
#include "test_support.h"
#include "text/codepage.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

using testing::PathExists;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

const std::string kStars(57, '*');
const std::string kEquals(57, '=');
const std::string kDashes(57, '-');
const std::string kHeader = kStars + "\r\n\r\n2027/01/01 00:00:05\r\n\r\n";
const std::string kBanner =
    "このメールは、pinemail 工房　にて公開された\r\n"
    "年賀メール一括送信　　を使用して送付されました。\r\n"
    "    URL   https://pinemail.example.org/\r\n\r\n\r\n";
const std::string kSettings =
    "[Config]\r\nUser Name=taro\r\nPassword=secret\r\nSubst Key Word= NAME , KEN \r\n";
const std::string kCredentials = "User Name: taro\r\nPassword : ******\r\n\r\n";
const std::string kNewYear = "A Happy New Year\r\n\r\nDear %NAME%,\r\nGreetings from %KEN%.\r\n";
const std::string kSubject = "A Happy New Year";

// What the run did with its transport.
struct Recording {
  int made = 0;
  bool make_null = false;
  bool refuse_sign_on = false;
  bool fixed_logon_line = false;  // the refusal keeps the log's fixed line, as MAPI's does
  std::set<std::string> failing_addresses;
  std::string failure_reason = "server said\r\nno (secret)";
  // Results given, in turn, to the tries at an address before it goes.
  std::map<std::string, std::deque<MailResult>> scripted;
  // Called at every try, to let the test's clock move.
  std::function<void()> on_send;
  std::vector<std::string> sign_ons;
  std::vector<OutgoingMessage> messages;
  int sign_offs = 0;
  // The addresses handed to each SendAhead as ahead, and what Settle says
  // of those last handed (from the first, as long as there is an entry).
  std::vector<std::vector<std::string>> aheads;
  std::map<std::string, MailResult> settled;
};

class RecordingTransport : public MailTransport {
 public:
  explicit RecordingTransport(Recording& recording) : recording_(recording) {}

  MailResult SignOn(const std::string& user_name, const std::string& password) override {
    recording_.sign_ons.push_back(user_name + "/" + password);
    MailResult result = MailResult::Done();
    if (recording_.refuse_sign_on) result = MailResult::Failed("server said 秘密pw is wrong\r\n");
    result.reason_logged = !recording_.fixed_logon_line;
    return result;
  }
  MailResult Send(const OutgoingMessage& message) override {
    if (recording_.on_send) recording_.on_send();
    if (recording_.failing_addresses.count(message.recipient_address)) {
      return MailResult::Failed(recording_.failure_reason);
    }
    std::deque<MailResult>& script = recording_.scripted[message.recipient_address];
    if (!script.empty()) {
      MailResult result = script.front();
      script.pop_front();
      return result;
    }
    recording_.messages.push_back(message);
    return MailResult::Done(message.message_key + "@example.jp");
  }
  MailResult SendAhead(const OutgoingMessage& message,
                       std::span<const OutgoingMessage* const> ahead) override {
    recording_.aheads.emplace_back();
    for (const OutgoingMessage* next : ahead) {
      recording_.aheads.back().push_back(next->recipient_address);
    }
    last_ahead_.assign(ahead.begin(), ahead.end());
    return Send(message);
  }
  std::vector<std::pair<const OutgoingMessage*, MailResult>> Settle() override {
    std::vector<std::pair<const OutgoingMessage*, MailResult>> outcomes;
    for (const OutgoingMessage* next : last_ahead_) {
      const auto found = recording_.settled.find(next->recipient_address);
      if (found == recording_.settled.end()) break;
      outcomes.emplace_back(next, found->second);
    }
    return outcomes;
  }
  void SignOff() override { ++recording_.sign_offs; }

 private:
  Recording& recording_;
  std::vector<const OutgoingMessage*> last_ahead_;
};

class RunBatchTest : public ::testing::Test {
 protected:
  BatchEnvironment Env(const std::string& list_name = "list.txt") {
    BatchEnvironment env = DefaultBatchEnvironment(folder_.path(), list_name);
    env.now = [] { return std::string("2027/01/01 00:00:05"); };
    env.make_transport = [this](const Settings&, std::string* reason) {
      ++recording_.made;
      std::unique_ptr<MailTransport> transport;
      if (recording_.make_null) {
        *reason = "no such server";
      } else {
        transport = std::make_unique<RecordingTransport>(recording_);
      }
      return transport;
    };
    env.warn = [this](const std::vector<OpenFailure>& failures) {
      warnings_.insert(warnings_.end(), failures.begin(), failures.end());
    };
    env.progress = [this](const BatchProgress& progress) { progress_.push_back(progress); };
    env.sign_on_failed = [this](const std::string& reason) { sign_on_failures_.push_back(reason); };
    // A clock of the test's own: a sleep moves it, and nothing waits.
    env.clock = [this] { return now_; };
    env.sleep = [this](std::chrono::nanoseconds length) {
      sleeps_.push_back(length);
      now_ += length;
    };
    env.waiting = [this](const BatchWait& wait) { waits_.push_back(wait); };
    env.notice = [this](const std::string& text) { notices_.push_back(text); };
    return env;
  }

  BatchOutcome Run(const std::string& list_name = "list.txt", bool resume = false) {
    BatchEnvironment env = Env(list_name);
    env.resume = resume;
    return RunBatch(env, &totals_);
  }

  // Input files and the log are in the system's code page.
  void Write(const std::string& name, std::string_view text) {
    WriteBytes(folder_ / name, EncodeSystemText(text));
  }
  std::string Log() const { return DecodeSystemText(ReadBytes(folder_ / "pinemail.log")); }

  // The log lines of one record, without its outcome.
  static std::string RecordHead(const std::string& address, const std::string& name,
                                const std::string& template_name) {
    return "送信先アドレス: " + address + "\r\n表示送信者名　: " + name +
           "\r\nテンプレート　: " + template_name + "\r\n";
  }
  static std::string Sent(const std::string& subject) {
    return "件名　　　　　: " + subject + "\r\nメッセージ送信\r\n" + kDashes + "\r\n\r\n";
  }
  static std::string Rejected() {
    return "送信に十分なデータが取得できませんでした。\r\n" + kEquals + "\r\n\r\n";
  }

  static std::string SentBefore(const std::string& subject) {
    return (subject.empty() ? "" : "件名　　　　　: " + subject + "\r\n") +
           "前回の実行で送信済みです。\r\n" + kDashes + "\r\n\r\n";
  }
  static std::string Failed(const std::string& subject, const std::string& reason) {
    return "件名　　　　　: " + subject + "\r\n送信に失敗しました。(" + reason + ")\r\n" + kEquals +
           "\r\n\r\n";
  }
  // The run id of each message the transport took, from its key.
  std::vector<std::string> RunIds() const {
    std::vector<std::string> ids;
    for (const OutgoingMessage& message : recording_.messages) {
      ids.push_back(message.message_key.substr(0, message.message_key.find('.')));
    }
    return ids;
  }

  ScratchFolder folder_;
  Recording recording_;
  std::vector<OpenFailure> warnings_;
  std::vector<BatchProgress> progress_;
  std::vector<std::string> sign_on_failures_;
  BatchProgress totals_;
  PaceClock::time_point now_{};
  std::vector<std::chrono::nanoseconds> sleeps_;
  std::vector<BatchWait> waits_;
  std::vector<std::string> notices_;
};

TEST_F(RunBatchTest, OpenFailuresWarnAndWriteNothing) {
  // A missing list: the log is opened first and left behind empty.
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run("missing.txt"));
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ(folder_ / "missing.txt", warnings_[0].path);
  EXPECT_FALSE(warnings_[0].reason.empty());
  EXPECT_TRUE(PathExists(folder_ / "pinemail.log"));
  EXPECT_EQ("", Log());
  EXPECT_EQ(0, recording_.made);

  // A log that cannot be opened, and a list that is a folder: both named.
  ScratchFolder other;
  BatchEnvironment env = Env(other.path());
  env.app_folder = other.path();
  WriteBytes(other / "pinemail.ini", kSettings);
  ASSERT_TRUE(std::filesystem::create_directory(other / "pinemail.log"));
  warnings_.clear();
  EXPECT_EQ(BatchOutcome::kStoppedEarly, RunBatch(env));
  ASSERT_EQ(2u, warnings_.size());
  EXPECT_EQ(other / "pinemail.log", warnings_[0].path);
  EXPECT_EQ(other.path(), warnings_[1].path);
  EXPECT_EQ(0, recording_.made);
}

TEST_F(RunBatchTest, EmptyAndUnrecognisedListsStopBeforeSignOn) {
  Write("pinemail.ini", kSettings);
  Write("empty.txt", "");
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run("empty.txt"));
  std::string expected = kHeader + "指定のファイルは空です。\r\n\r\n";
  EXPECT_EQ(expected, Log());

  // The mark is case-sensitive; a list with only an empty line has a line.
  Write("capitals.txt", "PINEMAIL.EXE list\r\na@example.jp,A,newyear.txt\r\n");
  Write("blank.txt", "\r\n");
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run("capitals.txt"));
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run("blank.txt"));
  std::string refused =
      kHeader + "指定のファイルは pinemail.exe 用であるとは認識できませんでした。\r\n\r\n";
  EXPECT_EQ(expected + refused + refused, Log());
  EXPECT_EQ(0, recording_.made);
}

TEST_F(RunBatchTest, SignOnFailureEndsTheRunWithoutSignOff) {
  // A password of multi-byte characters: one asterisk per character.
  Write("pinemail.ini", "[Config]\r\nUser Name=taro\r\nPassword=秘密pw\r\nSubst Key Word=\r\n");
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");
  Write("newyear.txt", kNewYear);
  std::string failed =
      kHeader + "User Name: taro\r\nPassword : ****\r\n\r\nログインに失敗しました。";
  // The log names the reason, cleaned and masked, but for MAPI's logon.
  std::string expected = failed + "(no such server)\r\n" + failed +
                         "(server said **** is wrong  )\r\n" + failed + "\r\n";

  recording_.make_null = true;
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  recording_.make_null = false;
  recording_.refuse_sign_on = true;
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  recording_.fixed_logon_line = true;
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  EXPECT_EQ(expected, Log());
  EXPECT_EQ((std::vector<std::string>{"taro/秘密pw", "taro/秘密pw"}), recording_.sign_ons);
  EXPECT_EQ(0, recording_.sign_offs);
  EXPECT_TRUE(recording_.messages.empty());
  EXPECT_EQ(std::string::npos, Log().find("秘密"));
  // The reasons reach the person watching, one line each, password masked.
  EXPECT_EQ((std::vector<std::string>{"no such server", "server said **** is wrong  ",
                                      "server said **** is wrong  "}),
            sign_on_failures_);
}

TEST_F(RunBatchTest, SendsAcceptedRecordsAndRejectsTheRest) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("short.txt", "Only a subject\r\n");
  Write("list.txt",
        "Greetings for pinemail.exe\r\n"
        "#family\r\n"
        "  a@example.jp,Tanaka Taro,newyear.txt,田中,北海道  \r\n"
        "\r\n"
        "   \r\n"
        "b@example.jp,,newyear.txt,Sato\r\n"
        ",Nobody,newyear.txt\r\n"
        "c@example.jp,One Line,short.txt\r\n"
        "d@example.jp,Missing,missing.txt\r\n"
        "e@example.jp, Sato Hanako ,newyear.txt,Sato#,Osaka,ignored");
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());

  std::string expected =
      kHeader + kCredentials + RecordHead("a@example.jp", "Tanaka Taro", "newyear.txt") +
      Sent("A Happy New Year") + RecordHead("b@example.jp", "", "newyear.txt") + Rejected() +
      RecordHead("", "Nobody", "newyear.txt") + Rejected() +
      RecordHead("c@example.jp", "One Line", "short.txt") + Rejected() +
      RecordHead("d@example.jp", "Missing", "missing.txt") + Rejected() +
      RecordHead("e@example.jp", " Sato Hanako ", "newyear.txt") + Sent("A Happy New Year");
  EXPECT_EQ(expected, Log());

  ASSERT_EQ(2u, recording_.messages.size());
  const OutgoingMessage& first = recording_.messages[0];
  EXPECT_EQ("Tanaka Taro", first.recipient_name);
  EXPECT_EQ("a@example.jp", first.recipient_address);
  EXPECT_EQ("A Happy New Year", first.subject);
  EXPECT_EQ(kBanner + "Dear 田中,\r\nGreetings from 北海道.\r\n", first.text);
  // Values of one record never carry over to the next.
  EXPECT_EQ(kBanner + "Dear Sato#,\r\nGreetings from Osaka.\r\n", recording_.messages[1].text);
  EXPECT_EQ(" Sato Hanako ", recording_.messages[1].recipient_name);

  EXPECT_EQ(std::vector<std::string>{"taro/secret"}, recording_.sign_ons);
  EXPECT_EQ(1, recording_.sign_offs);
  EXPECT_EQ(6u, totals_.records);
  EXPECT_EQ(2u, totals_.sent);
  EXPECT_EQ(4u, totals_.rejected);
  EXPECT_EQ(0u, totals_.failed);
  // The total first, counted by the run's rules (no mark, comment or blank
  // line), then each record.
  ASSERT_EQ(7u, progress_.size());
  EXPECT_EQ(0u, progress_[0].records);
  EXPECT_EQ(6u, progress_[0].total);
  EXPECT_EQ(1u, progress_[1].sent);
  EXPECT_EQ(1u, progress_[2].rejected);
  EXPECT_EQ(6u, progress_[6].total);
}

TEST_F(RunBatchTest, FailedSendIsLoggedAndTheRunGoesOn) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt",
        "pinemail.exe\r\n"
        "bad@example.jp,Bad,newyear.txt\r\n"
        "good@example.jp,Good,newyear.txt\r\n");
  recording_.failing_addresses = {"bad@example.jp"};
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());

  // The reason stays on one line and the password is masked in it.
  std::string expected =
      kHeader + kCredentials + RecordHead("bad@example.jp", "Bad", "newyear.txt") +
      "件名　　　　　: A Happy New Year\r\n"
      "送信に失敗しました。(server said  no (******))\r\n" +
      kEquals + "\r\n\r\n" + RecordHead("good@example.jp", "Good", "newyear.txt") +
      Sent("A Happy New Year");
  EXPECT_EQ(expected, Log());
  ASSERT_EQ(1u, recording_.messages.size());
  EXPECT_EQ("good@example.jp", recording_.messages[0].recipient_address);
  EXPECT_EQ(1u, totals_.failed);
  EXPECT_EQ(1u, totals_.sent);
  EXPECT_EQ(1, recording_.sign_offs);
}

TEST_F(RunBatchTest, ListWithOnlyItsMarkSignsOnAndOff) {
  Write("pinemail.ini", "[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n");
  Write("list.txt", "pinemail.exe");
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  EXPECT_EQ(kHeader + "User Name: \r\nPassword : \r\n\r\n", Log());
  EXPECT_EQ(std::vector<std::string>{"/"}, recording_.sign_ons);
  EXPECT_EQ(1, recording_.sign_offs);
  ASSERT_EQ(1u, progress_.size());
  EXPECT_EQ(0u, progress_[0].total);
}

TEST_F(RunBatchTest, BannerSwitchAndMissingSettings) {
  // Without a settings file: the keys are created, nothing is substituted.
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt,X\r\n");
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  EXPECT_EQ("[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n",
            ReadBytes(folder_ / "pinemail.ini"));
  ASSERT_EQ(1u, recording_.messages.size());
  EXPECT_EQ(kBanner + "Dear %NAME%,\r\nGreetings from %KEN%.\r\n", recording_.messages[0].text);

  // Only "TRUE" exactly suppresses the banner.
  Write("pinemail.ini", kSettings + "NO_INSERT_TEXT=true\r\n");
  Run();
  Write("pinemail.ini", kSettings + "NO_INSERT_TEXT=TRUE\r\n");
  Run();
  ASSERT_EQ(3u, recording_.messages.size());
  EXPECT_EQ(kBanner + "Dear X,\r\nGreetings from .\r\n", recording_.messages[1].text);
  EXPECT_EQ("Dear X,\r\nGreetings from .\r\n", recording_.messages[2].text);
}

TEST_F(RunBatchTest, RunsAppendBlocksAndResolveTemplatePaths) {
  ScratchFolder elsewhere;
  WriteBytes(elsewhere / "list.txt", EncodeSystemText("pinemail.exe\r\na@example.jp,A," +
                                                      elsewhere.path() + "far.txt\r\n"));
  WriteBytes(elsewhere / "far.txt", "Far\r\n\r\nbody\r\n");
  Write("pinemail.ini", kSettings);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,far.txt\r\n");

  // An absolute list path and an absolute template path are used as they are;
  // a bare template name means the program's folder, where far.txt is not.
  EXPECT_EQ(BatchOutcome::kAllSent, Run(elsewhere / "list.txt"));
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());
  std::string first = kHeader + kCredentials +
                      RecordHead("a@example.jp", "A", elsewhere.path() + "far.txt") + Sent("Far");
  std::string second =
      kHeader + kCredentials + RecordHead("a@example.jp", "A", "far.txt") + Rejected();
  EXPECT_EQ(first + second, Log());
  EXPECT_FALSE(PathExists(elsewhere / "pinemail.log"));
}

TEST_F(RunBatchTest, LogThatCannotBeWrittenStopsTheRunBeforeAnyMail) {
  // /dev/full opens for appending but refuses every write.
  if (!PathExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  std::filesystem::create_symlink("/dev/full", folder_ / "pinemail.log");
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");

  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  EXPECT_TRUE(recording_.sign_ons.empty());
  EXPECT_TRUE(recording_.messages.empty());
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ(folder_ / "pinemail.log", warnings_[0].path);
  EXPECT_FALSE(warnings_[0].reason.empty());
}

TEST_F(RunBatchTest, ALogHeldByAnotherRunStopsThisOneAtTheOpen) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");
  Write("pinemail.log", "earlier\r\n");
  std::string reason;
  bool in_use = false;
  File other_run = OpenSoleWriter(folder_ / "pinemail.log", &reason, &in_use);
  ASSERT_NE(other_run, nullptr) << reason;

  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ(folder_ / "pinemail.log", warnings_[0].path);
  EXPECT_EQ("別の実行が使用中です", warnings_[0].reason);
  EXPECT_EQ(0, recording_.made);
  EXPECT_EQ("earlier\r\n", Log());

  // Once the other run has ended, the log is this run's again.
  other_run.reset();
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  EXPECT_EQ("earlier\r\n" + kHeader + kCredentials +
                RecordHead("a@example.jp", "A", "newyear.txt") + Sent("A Happy New Year"),
            Log());
}

// `/at` checks, waits and sends holding the log throughout: whenever it
// reads its settings or waits, another run finds the log in use.
TEST_F(RunBatchTest, AnAtRunHoldsTheLogFromItsCheckToItsEnd) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");
  std::vector<bool> held;
  const auto another_run = [&] {
    std::string reason;
    bool in_use = false;
    held.push_back(!OpenSoleWriter(folder_ / "pinemail.log", &reason, &in_use) && in_use);
  };
  BatchEnvironment env = Env();
  WallClock::time_point wall{};
  ASSERT_TRUE(ParseStartTime("2026-12-31T23:59", wall, &wall, &totals_.stop_reason));
  env.start_at = "0:00";
  env.wall_clock = [&] { return wall; };
  env.sleep = [&](std::chrono::nanoseconds length) {
    wall += std::chrono::duration_cast<WallClock::duration>(length);
  };
  const auto open_profile = env.open_profile;
  env.open_profile = [&] {
    another_run();
    return open_profile();
  };
  std::vector<BatchProgress> shown_at_waits;  // what a person sees while the run waits
  env.waiting = [&](const BatchWait&) {
    another_run();
    shown_at_waits.push_back(progress_.empty() ? BatchProgress{} : progress_.back());
  };
  int cautions = 0;  // the settings file others may read (POSIX) is named once
  env.caution = [&](const std::string&) { ++cautions; };
  env.dns = nullptr;

  EXPECT_EQ(BatchOutcome::kAllSent, RunBatch(env, &totals_));
  EXPECT_EQ(2, recording_.made);    // the check's sign-on, then the run's
  EXPECT_GE(held.size(), 2u + 60);  // and a minute's wait, a second at a time
  EXPECT_EQ(std::vector<bool>(held.size(), true), held);
  EXPECT_EQ(1u, recording_.messages.size());
  EXPECT_LE(cautions, 1);
  EXPECT_EQ(std::vector<std::string>{CheckSummaryLine(1, 0)}, notices_);
  ASSERT_FALSE(shown_at_waits.empty());
  EXPECT_EQ(std::make_tuple(1u, 0u, 0u), std::make_tuple(shown_at_waits.back().total,
                                                         shown_at_waits.back().records,
                                                         shown_at_waits.back().sent));
}

TEST_F(RunBatchTest, EveryLoggedFieldHasItsControlsBlanked) {
  using namespace std::string_literals;
  // UTF-8 files (byte-order mark), so that every character reaches the run
  // whatever the code page; a lone LF is an ordinary character in a line.
  const std::string bom = "\xEF\xBB\xBF";
  Write("pinemail.ini", "[Config]\r\nUser Name=ta\x1b[2Jro\r\nPassword=secret\r\n");
  WriteBytes(folder_ / "ctl.txt", bom + "Sub\x1b]0;t\x07ject\u0085\u2028\r\n\r\nbody\r\n");
  const std::string list =
      "pinemail.exe\r\n"
      "a@example.jp,Ta\nro\0\x7f,ctl.txt\r\n"
      "bad@example.jp,B\u2029,ctl.txt\r\n"
      "c@example.jp,C,ctl\x1b.txt\r\n"s;
  WriteBytes(folder_ / "list.txt", bom + list);
  recording_.failing_addresses = {"bad@example.jp"};
  recording_.failure_reason = "451 busy\u2028\u009b2J\x1b[0m";
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());

  const std::string subject = "Sub ]0;t ject  ";
  EXPECT_EQ(kHeader + "User Name: ta [2Jro\r\nPassword : ******\r\n\r\n" +
                RecordHead("a@example.jp", "Ta ro  ", "ctl.txt") + Sent(subject) +
                RecordHead("bad@example.jp", "B ", "ctl.txt") + "件名　　　　　: " + subject +
                "\r\n送信に失敗しました。(451 busy  2J [0m)\r\n" + kEquals + "\r\n\r\n" +
                RecordHead("c@example.jp", "C", "ctl .txt") + Rejected(),
            Log());
  // The message itself is the transport's business: the name reaches it as written.
  ASSERT_EQ(1u, recording_.messages.size());
  EXPECT_EQ("Ta\nro\0\x7f"s, recording_.messages[0].recipient_name);
}

TEST_F(RunBatchTest, ResumeSkipsWhatTheLastRunSentAndKeepsItsRunId) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("other.txt", "Other\r\n\r\nbody\r\n");
  // The same line twice: two records, told apart by their occurrence.
  Write("list.txt",
        "pinemail.exe\r\n"
        "a@example.jp,A,newyear.txt\r\n"
        "b@example.jp,B,newyear.txt\r\n"
        "a@example.jp,A,newyear.txt\r\n"
        "c@example.jp,C,other.txt\r\n");
  recording_.failing_addresses = {"b@example.jp"};
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());
  ASSERT_EQ(3u, recording_.messages.size());
  const std::string first_run = RunIds()[0];
  EXPECT_EQ(RunIds(), std::vector<std::string>(3, first_run));
  EXPECT_NE(recording_.messages[0].message_key, recording_.messages[1].message_key);
  // The journal: the start line and one line per message taken, naming the
  // list by its full path.
  const std::string journal = ReadBytes(folder_ / "pinemail.journal");
  EXPECT_EQ(4, std::count(journal.begin(), journal.end(), '\n'));
  JournalScan scan(JournalListPath(folder_ / "list.txt"));
  scan.Feed(journal);
  const std::vector<JournalRun> runs = scan.Finish();
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(first_run, runs[0].run_id);
  EXPECT_EQ(3u, runs[0].sent.size());
  EXPECT_EQ(0u, scan.bad_lines());

  // A line inserted before the others and a template gone: the resumed run
  // sends b and the new line only, with the same run id.
  Write("list.txt",
        "pinemail.exe\r\n"
        "new@example.jp,N,newyear.txt\r\n"
        "a@example.jp,A,newyear.txt\r\n"
        "b@example.jp,B,newyear.txt\r\n"
        "a@example.jp,A,newyear.txt\r\n"
        "c@example.jp,C,other.txt\r\n");
  std::filesystem::remove(folder_ / "other.txt");
  recording_.failing_addresses.clear();
  const std::string log_before = Log();
  EXPECT_EQ(BatchOutcome::kAllSent, Run("list.txt", true));
  EXPECT_EQ(log_before + kHeader + kCredentials + RecordHead("new@example.jp", "N", "newyear.txt") +
                Sent("A Happy New Year") + RecordHead("a@example.jp", "A", "newyear.txt") +
                SentBefore("A Happy New Year") + RecordHead("b@example.jp", "B", "newyear.txt") +
                Sent("A Happy New Year") + RecordHead("a@example.jp", "A", "newyear.txt") +
                SentBefore("A Happy New Year") + RecordHead("c@example.jp", "C", "other.txt") +
                SentBefore(""),
            Log());
  EXPECT_EQ(2u, totals_.sent);
  EXPECT_EQ(3u, totals_.sent_before);
  ASSERT_EQ(5u, recording_.messages.size());
  EXPECT_EQ(RunIds(), std::vector<std::string>(5, first_run));

  // Resumed again, nothing is left; a plain run sends everything anew.
  EXPECT_EQ(BatchOutcome::kAllSent, Run("list.txt", true));
  EXPECT_EQ(5u, recording_.messages.size());
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run());  // other.txt is gone
  ASSERT_EQ(9u, recording_.messages.size());
  EXPECT_NE(RunIds()[5], first_run);
  EXPECT_TRUE(notices_.size() == 2 && notices_[0].find(first_run) != std::string::npos);
}

// Measuring without the journal: nothing of it is read or written, the
// transport makes the Message-IDs, and `/resume` has nothing to skip.
TEST_F(RunBatchTest, ARunWithoutTheJournalSendsEveryRecordAndLeavesNoJournal) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\na@example.jp,A,newyear.txt\r\n");
  for (const bool resume : {false, true}) {
    BatchEnvironment env = Env();
    env.keep_journal = false;
    env.resume = resume;
    EXPECT_EQ(BatchOutcome::kAllSent, RunBatch(env, &totals_)) << resume;
    EXPECT_EQ(2u, totals_.sent) << resume;
  }
  EXPECT_FALSE(PathExists(folder_ / "pinemail.journal"));
  ASSERT_EQ(4u, recording_.messages.size());
  for (const OutgoingMessage& message : recording_.messages) EXPECT_EQ("", message.message_key);
}

TEST_F(RunBatchTest, ResumeWithoutAnEarlierRunSendsNothingBeforeAnyServer) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");
  Write("pinemail.journal", "not a journal line\n");
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run("list.txt", true));
  EXPECT_EQ(0, recording_.made);
  EXPECT_EQ(kHeader +
                "送信を中断しました。(/resume: pinemail.journal "
                "にリスト「list.txt」の実行がありません)\r\n" +
                kEquals + "\r\n\r\n",
            Log());
  ASSERT_EQ(1u, notices_.size());
  EXPECT_NE(notices_[0].find("1 行目"), std::string::npos) << notices_[0];
}

TEST_F(RunBatchTest, APmj1RunResumedAfterAnUpgradeKeepsItsIdentitiesAndMessageIds) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt",
        "pinemail.exe\r\n a@example.jp,A,newyear.txt\r\nb@example.jp,B,newyear.txt\r\n");
  // The line as the earlier version wrote it, in a folder since moved: the
  // hash of the line's bytes.
  const std::string run = "0123456789abcdef";
  std::string key = MessageKey(run, {LineHash(" a@example.jp,A,newyear.txt"), 0});
  std::replace(key.begin(), key.end(), '.', '\t');
  WriteBytes(folder_ / "pinemail.journal", "pmj1\tsent\t" + key + "\tm@x\t/old/list.txt\n");
  EXPECT_EQ(BatchOutcome::kAllSent, Run("list.txt", true));
  ASSERT_EQ(1u, recording_.messages.size());
  EXPECT_EQ(MessageKey(run, {LineHash("b@example.jp,B,newyear.txt"), 0}),
            recording_.messages[0].message_key);
  EXPECT_NE(ReadBytes(folder_ / "pinemail.journal").find("\npmj1\tsent\t" + run),
            std::string::npos);
}

TEST_F(RunBatchTest, AListWithLineFeedLineEndsSendsNothing) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  for (const char* list : {"pinemail.exe\na@example.jp,A,newyear.txt\n",
                           "pinemail.exe\r\n#a\nb@example.jp,B,newyear.txt\n"}) {
    Write("list.txt", list);
    EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  }
  const std::string refused =
      kHeader + "指定のファイルの改行が LF だけです。改行を CR LF にして保存してください。\r\n\r\n";
  EXPECT_EQ(refused + refused, Log());
  EXPECT_EQ(0, recording_.made);
}

TEST_F(RunBatchTest, SendRateSpacesTheTriesAndNothingWaitsWithoutIt) {
  Write("newyear.txt", kNewYear);
  Write("list.txt",
        "pinemail.exe\r\na@example.jp,A,newyear.txt\r\nb@example.jp,B,newyear.txt\r\n"
        "c@example.jp,C,newyear.txt\r\n");
  // Each try takes half a second of the test's clock.
  recording_.on_send = [this] { now_ += std::chrono::milliseconds(500); };
  Write("pinemail.ini", kSettings + "Send Rate= 20/min \r\n");
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  const std::vector<std::chrono::nanoseconds> gaps(2, std::chrono::milliseconds(2500));
  EXPECT_EQ(gaps, sleeps_);
  ASSERT_EQ(2u, waits_.size());
  EXPECT_EQ(BatchWait::Kind::kPacing, waits_[0].kind);
  EXPECT_EQ(std::chrono::milliseconds(2500), waits_[0].length);

  sleeps_.clear();
  Write("pinemail.ini", kSettings);
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(6u, recording_.messages.size());
}

TEST_F(RunBatchTest, ARefusedSessionIsWaitedForThenALastingOneStopsTheRun) {
  Write("pinemail.ini", kSettings);
  Write("newyear.txt", kNewYear);
  Write("list.txt",
        "pinemail.exe\r\na@example.jp,A,newyear.txt\r\nb@example.jp,B,newyear.txt\r\n"
        "c@example.jp,C,newyear.txt\r\nd@example.jp,D,newyear.txt\r\n");
  const MailResult busy =
      MailResult::Refused(MailOutcome::kSessionRefused, "421 4.7.0 secret later", 421, "4.7.0");
  recording_.scripted["b@example.jp"] = {busy, busy, busy};
  recording_.scripted["c@example.jp"] = {
      MailResult::Refused(MailOutcome::kSessionRefused, "550 5.4.5 Daily limit", 550, "5.4.5")};
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());

  using std::chrono::seconds;
  EXPECT_EQ((std::vector<std::chrono::nanoseconds>{seconds(1), seconds(2), seconds(4)}), sleeps_);
  ASSERT_EQ(3u, waits_.size());
  EXPECT_EQ(BatchWait::Kind::kBackOff, waits_[2].kind);
  EXPECT_EQ("421 4.7.0 ****** later", waits_[2].reply);
  const std::string stop = "サーバーが送信を断りました: 550 5.4.5 Daily limit";
  EXPECT_EQ(kHeader + kCredentials + RecordHead("a@example.jp", "A", "newyear.txt") +
                Sent("A Happy New Year") + RecordHead("b@example.jp", "B", "newyear.txt") +
                Sent("A Happy New Year") + RecordHead("c@example.jp", "C", "newyear.txt") +
                Failed("A Happy New Year", "550 5.4.5 Daily limit") + "送信を中断しました。(" +
                stop + ")\r\n" + kEquals + "\r\n\r\n",
            Log());
  EXPECT_EQ(stop, totals_.stop_reason);
  EXPECT_EQ(2u, recording_.messages.size());
  EXPECT_EQ(1, recording_.sign_offs);
}

TEST_F(RunBatchTest, MessagesGoAheadUnlessPacedAndAStopSettlesThoseHandedOver) {
  Write("newyear.txt", kNewYear);
  std::string list = "pinemail.exe\r\n";
  for (char c = 'a'; c <= 'k'; ++c) list += std::string(1, c) + "@example.jp,N,newyear.txt\r\n";
  Write("list.txt", list);
  Write("pinemail.ini", kSettings + "Send Rate=100/sec\r\n");
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  // Paced: each message waits for its time, none goes ahead of it.
  EXPECT_EQ(std::vector<std::vector<std::string>>(11), recording_.aheads);

  Write("pinemail.ini", kSettings);
  recording_.aheads.clear();
  EXPECT_EQ(BatchOutcome::kAllSent, Run());
  ASSERT_EQ(11u, recording_.aheads.size());
  // The next messages in the list's order, up to 7 behind the one in hand.
  EXPECT_EQ(
      (std::vector<std::string>{"b@example.jp", "c@example.jp", "d@example.jp", "e@example.jp",
                                "f@example.jp", "g@example.jp", "h@example.jp"}),
      recording_.aheads[0]);
  EXPECT_EQ(std::vector<std::string>{"k@example.jp"}, recording_.aheads[9]);
  EXPECT_TRUE(recording_.aheads[10].empty());

  // b stops the run with c and d handed over behind it (c went, d was
  // lost), and e not: c and d are logged, and the stop line after them.
  std::filesystem::remove(folder_ / "pinemail.log");
  Write("list.txt",
        "pinemail.exe\r\na@example.jp,A,newyear.txt\r\nb@example.jp,B,newyear.txt\r\n"
        "x@example.jp,,newyear.txt\r\nc@example.jp,C,newyear.txt\r\n"
        "d@example.jp,D,newyear.txt\r\ne@example.jp,E,newyear.txt\r\n");
  recording_.scripted["b@example.jp"] = {
      MailResult::Refused(MailOutcome::kSessionRefused, "550 5.4.5 Daily limit", 550, "5.4.5")};
  recording_.settled.emplace("c@example.jp", MailResult::Done("c-id"));
  recording_.settled.emplace("d@example.jp", MailResult::ConnectionLost("lost"));
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  const std::string stop = "サーバーが送信を断りました: 550 5.4.5 Daily limit";
  EXPECT_EQ(kHeader + kCredentials + RecordHead("a@example.jp", "A", "newyear.txt") +
                Sent("A Happy New Year") + RecordHead("b@example.jp", "B", "newyear.txt") +
                Failed("A Happy New Year", "550 5.4.5 Daily limit") +
                RecordHead("x@example.jp", "", "newyear.txt") + Rejected() +
                RecordHead("c@example.jp", "C", "newyear.txt") + Sent("A Happy New Year") +
                RecordHead("d@example.jp", "D", "newyear.txt") +
                Failed("A Happy New Year", "lost") + "送信を中断しました。(" + stop + ")\r\n" +
                kEquals + "\r\n\r\n",
            Log());
  EXPECT_EQ(
      (std::vector<std::size_t>{5, 2, 1, 2}),
      (std::vector<std::size_t>{totals_.records, totals_.sent, totals_.rejected, totals_.failed}));
  // The settled message is in the journal: a resumed run skips it.
  recording_.scripted.clear();
  recording_.settled.clear();
  recording_.messages.clear();
  EXPECT_EQ(BatchOutcome::kSomeNotSent, Run("list.txt", true));
  std::vector<std::string> sent;
  for (const OutgoingMessage& message : recording_.messages) {
    sent.push_back(message.recipient_address);
  }
  EXPECT_EQ((std::vector<std::string>{"b@example.jp", "d@example.jp", "e@example.jp"}), sent);
}

TEST_F(RunBatchTest, AJournalThatIsNoRegularFileIsAnOpenFailure) {
  Write("newyear.txt", kNewYear);
  Write("list.txt", "pinemail.exe\r\na@example.jp,A,newyear.txt\r\n");
  // No mail whose sending the journal cannot follow.
  Write("pinemail.ini", kSettings);
  ASSERT_TRUE(std::filesystem::create_directory(folder_ / "pinemail.journal"));
  EXPECT_EQ(BatchOutcome::kStoppedEarly, Run());
  EXPECT_EQ(0, recording_.made);
  ASSERT_EQ(1u, warnings_.size());
  EXPECT_EQ(folder_ / "pinemail.journal", warnings_[0].path);
  EXPECT_EQ("", Log());
}

TEST_F(RunBatchTest, AStopEndsTheRunAfterTheMessageInHandAndResumeSendsTheRest) {
  Write("newyear.txt", kNewYear);
  Write("list.txt",
        "pinemail.exe\r\na@example.jp,A,newyear.txt\r\nb@example.jp,B,newyear.txt\r\n"
        "c@example.jp,C,newyear.txt\r\n");
  const MailResult busy =
      MailResult::Refused(MailOutcome::kSessionRefused, "421 4.7.0 later", 421, "4.7.0");
  const std::string a_sent = RecordHead("a@example.jp", "A", "newyear.txt") + Sent(kSubject);
  const std::string b_sent = RecordHead("b@example.jp", "B", "newyear.txt") + Sent(kSubject);
  // Stop pressed: during the pacing wait before b, during the pause after
  // b's refusal, or while a is sent with b handed over behind it (b goes).
  struct Case {
    std::string settings;
    bool b_busy;
    bool stop_at_send;
    std::string logged;
    std::vector<std::string> resumed;
  } cases[] = {
      {kSettings + "Send Rate=20/min\r\n", false, false, a_sent, {"b", "c"}},
      {kSettings, true, false, a_sent, {"b", "c"}},
      {kSettings, false, true, a_sent + b_sent, {"c"}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(folder_ / "pinemail.log");
    Write("pinemail.ini", c.settings);
    recording_ = Recording{};
    if (c.b_busy) recording_.scripted["b@example.jp"] = {busy};
    recording_.settled.emplace("b@example.jp", MailResult::Done("b-id"));
    BatchEnvironment env = Env();
    env.stop = std::make_shared<StopRequest>();
    env.sleep = [stop = env.stop](std::chrono::nanoseconds) { stop->Request(); };
    if (c.stop_at_send) recording_.on_send = [stop = env.stop] { stop->Request(); };
    EXPECT_EQ(BatchOutcome::kStoppedEarly, RunBatch(env, &totals_));
    EXPECT_EQ(kHeader + kCredentials + c.logged + "送信を中断しました。(中止しました)\r\n" +
                  kEquals + "\r\n\r\n",
              Log());
    EXPECT_EQ(1, recording_.sign_offs);

    recording_ = Recording{};
    EXPECT_EQ(BatchOutcome::kAllSent, Run("list.txt", true));
    std::vector<std::string> resumed;
    for (const OutgoingMessage& message : recording_.messages) {
      resumed.push_back(message.recipient_address.substr(0, 1));
    }
    EXPECT_EQ(c.resumed, resumed);
  }
}

}  // namespace
}  // namespace pinemail
