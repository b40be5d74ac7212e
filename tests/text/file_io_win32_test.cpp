// Windows-only file failures: the reason comes from the system's error code,
// which says more than the C library's errno.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>

#include "test_support.h"
#include "text/file_io.h"
#include "text/utf8.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

TEST(FileIoWin32Test, SharingViolationIsReportedAsSuch) {
  testing::ScratchFolder folder;
  const std::string path = folder / "pinemail.log";
  testing::WriteBytes(path, "");
  // Another program holding the log without sharing it.
  HANDLE held = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string reason;
  EXPECT_EQ(OpenFile(path, "ab", &reason), nullptr);
  CloseHandle(held);
  EXPECT_TRUE(IsValidUtf8(reason));
  EXPECT_FALSE(reason.empty());
  // errno alone would only say "permission denied".
  EXPECT_NE(reason, WideToUtf8(_wcserror(EACCES)));
}

TEST(FileIoWin32Test, WideConversionsRoundTripAndReplaceBrokenUnits) {
  const std::string text = "宛先①ｱ\U0001F600";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
  EXPECT_EQ(Utf8ToWide("a\xFF"), std::wstring(L"a\xFFFD"));
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\uFFFD");
}

}  // namespace
}  // namespace pinemail
