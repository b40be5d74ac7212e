// Tests of the SMTP pipeline without a network: scripted replies, what it
// writes when, and how each transaction ends.
#include "mail/smtp/smtp_pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace pinemail {
namespace {

constexpr int kHangUp = -1;

// Each write as "{...}": one word per command, the message ("m1") and the
// end of data ("."); each reply as "[code]".
std::string Words(std::string_view bytes) {
  if (bytes.empty()) return "";
  std::string words;
  while (!bytes.empty()) {
    const std::string_view line = bytes.substr(0, bytes.find("\r\n"));
    bytes.remove_prefix(std::min(bytes.size(), line.size() + 2));
    words += std::string(line.substr(0, line.find(' '))) + " ";
    if (line.starts_with("BDAT ")) {
      const std::size_t size = std::stoul(std::string(line.substr(5)));
      words += std::string(bytes.substr(0, size)) + " ";
      bytes.remove_prefix(size);
    }
  }
  words.pop_back();
  return "{" + words + "} ";
}

std::string Describe(const SmtpSettlement& settled) {
  constexpr const char* kSteps[] = {"MAIL", "RCPT", "DATA", "END", "BDAT", "RSET", "QUIT"};
  constexpr const char* kOutcomes[] = {"sent", "refused", "lost", "not-taken"};
  std::string text = kOutcomes[static_cast<int>(settled.outcome)];
  if (settled.reply.code != 0) {
    text += std::string(":") + kSteps[static_cast<int>(settled.step)] + "-" +
            std::to_string(settled.reply.code);
  }
  return text + " ";
}

struct Setup {
  bool pipelining;
  bool chunking;
  std::size_t window;
  std::size_t share;
  std::uint64_t messages;
};

struct Case {
  const char* name;
  Setup setup;
  std::vector<int> replies;  // given in turn while one is awaited
  std::string transcript;
  std::string outcomes;
};

// Hands the messages over as the pipeline has room, answers with the
// replies and says QUIT when it has nothing left to wait for.
void Drive(const Case& c, std::string* transcript, std::string* outcomes) {
  const Setup& setup = c.setup;
  SmtpPipeline pipeline({"s@x", setup.pipelining, setup.chunking, setup.window, setup.share});
  std::uint64_t next = 1;
  auto reply = c.replies.begin();
  for (;;) {
    while (next <= setup.messages && pipeline.CanBegin()) {
      pipeline.Begin(next, "r@x", std::string("m").append(std::to_string(next)));
      ++next;
    }
    *transcript += Words(pipeline.TakeOutput().ReadAll());
    for (const SmtpSettlement& settled : pipeline.TakeSettled()) *outcomes += Describe(settled);
    if (!pipeline.Awaited()) {
      if (pipeline.closed()) return;
      pipeline.Quit("closing");
    } else if (reply == c.replies.end()) {
      return;
    } else if (*reply == kHangUp) {
      ++reply;
      pipeline.Lose("gone");
    } else {
      transcript->append("[").append(std::to_string(*reply)).append("] ");
      pipeline.TakeReply({*reply, std::to_string(*reply) + " text"});
      ++reply;
    }
  }
}

TEST(SmtpPipeline, WritesEachStepWhenItMayAndSettlesEachTransactionInOrder) {
  const Case cases[] = {
      {"lock-step: every command waits; RSET before the MAIL after a refusal",
       {false, false, 1, 0, 3},
       {250, 250, 354, 250, 250, 550, 250, 250, 250, 354, 250, 221},
       "{MAIL} [250] {RCPT} [250] {DATA} [354] {m1 .} [250] {MAIL} [250] {RCPT} [550] {RSET} "
       "[250] {MAIL} [250] {RCPT} [250] {DATA} [354] {m3 .} [250] {QUIT} [221] ",
       "sent refused:RCPT-550 sent "},
      {"lock-step: a refused sender gets no RCPT",
       {false, false, 1, 0, 1},
       {550, 221},
       "{MAIL} [550] {QUIT} [221] ",
       "refused:MAIL-550 "},
      {"pipelining: a message's end and the next commands in one write",
       {true, false, 2, 0, 2},
       {250, 250, 354, 250, 250, 250, 354, 250, 221},
       "{MAIL RCPT DATA} [250] [250] [354] {m1 . MAIL RCPT DATA} [250] [250] [250] [354] {m2 .} "
       "[250] {QUIT} [221] ",
       "sent sent "},
      {"pipelining: DATA taken after a refused recipient gets an empty message",
       {true, false, 2, 0, 2},
       {250, 550, 354, 554, 250, 250, 250, 354, 250, 221},
       "{MAIL RCPT DATA} [250] [550] [354] {. RSET MAIL RCPT DATA} [554] [250] [250] [250] [354] "
       "{m2 .} [250] {QUIT} [221] ",
       "refused:RCPT-550 sent "},
      {"pipelining: a 421 ends the connection",
       {true, false, 2, 0, 2},
       {250, 421},
       "{MAIL RCPT DATA} [250] [421] ",
       "refused:RCPT-421 "},
      {"chunking: a MAIL out of step whose message was taken was delivered",
       {true, true, 3, 0, 3},
       {250, 250, 250, 503, 250, 250, 250, 250, 250, 221},
       "{MAIL RCPT BDAT m1 MAIL RCPT BDAT m2 MAIL RCPT BDAT m3} [250] [250] [250] [503] [250] "
       "[250] [250] [250] [250] {QUIT} [221] ",
       "sent sent sent "},
      {"chunking: a MAIL out of step whose message was refused may go again",
       {true, true, 1, 0, 2},
       {503, 503, 554, 250, 250, 250, 250, 221},
       "{MAIL RCPT BDAT m1} [503] [503] [554] {RSET MAIL RCPT BDAT m2} [250] [250] [250] [250] "
       "{QUIT} [221] ",
       "not-taken:MAIL-503 sent "},
      {"chunking: a hang-up loses what was heard of, the rest may go again",
       {true, true, 2, 0, 2},
       {250, kHangUp},
       "{MAIL RCPT BDAT m1 MAIL RCPT BDAT m2} [250] ",
       "lost not-taken "},
      {"the connection's share: QUIT after it",
       {false, false, 1, 1, 2},
       {250, 250, 354, 250, 221},
       "{MAIL} [250] {RCPT} [250] {DATA} [354] {m1 .} [250] {QUIT} [221] ",
       "sent "},
  };
  for (const Case& c : cases) {
    std::string transcript;
    std::string outcomes;
    Drive(c, &transcript, &outcomes);
    EXPECT_EQ(transcript, c.transcript) << c.name;
    EXPECT_EQ(outcomes, c.outcomes) << c.name;
  }
}

}  // namespace
}  // namespace pinemail
