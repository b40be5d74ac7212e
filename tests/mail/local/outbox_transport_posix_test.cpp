// A write that fails part-way (file size limit, as on a full disk) must leave
// no message under a final name.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "mail/local/outbox_transport.h"
#include "test_support.h"

namespace pinemail {
namespace {

TEST(OutboxTransportPosixTest, AWriteCutShortLeavesNoFileAndSaysWhy) {
  pinemail::testing::ScratchFolder scratch;
  std::string folder = scratch / "out";
  OutboxTransport outbox(folder, Mailbox{"", "taro@example.jp"}, SystemMessageStamps());
  ASSERT_TRUE(outbox.SignOn("", "").ok());

  // Files may not grow past 4 KiB for a moment: the write fails with EFBIG
  // instead of the signal.
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small_limit = old_limit;
  small_limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
  MailResult big =
      outbox.Send(OutgoingMessage{"佐藤", "hanako@example.com", "big", std::string(100000, 'x')});
  MailResult small = outbox.Send(OutgoingMessage{"佐藤", "hanako@example.com", "small", "x"});
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(big.ok());
  EXPECT_FALSE(big.reason.empty());
  EXPECT_TRUE(small.ok()) << small.reason;
  // Only the small message is there, under the first number; no temporary file.
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename().string(), "00000001.eml");
    ++count;
  }
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace pinemail
