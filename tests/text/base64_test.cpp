// The base64 codec: RFC 4648's test vectors both ways, the URL alphabet, and
// what the strict decoder refuses.
#include "text/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace pinemail {
namespace {

TEST(Base64Test, EncodesAndDecodesTheStandardVectors) {
  const struct {
    std::string bytes, text;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {std::string("\0\xFB\xFF", 3), "APv/"}};
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeBase64(c.bytes), c.text);
    std::string back = "stale";
    EXPECT_TRUE(DecodeBase64(c.text, &back)) << c.text;
    EXPECT_EQ(back, c.bytes);
  }
  EXPECT_EQ(EncodeBase64Url(std::string("\0\xFB\xFF\x66", 4)), "APv_Zg");
}

TEST(Base64Test, RefusesWhatIsNotStrictBase64) {
  for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v!A==", "=Zm9", "Zg==Zg==", "APv_", "Zm9 v"}) {
    std::string bytes = "kept";
    EXPECT_FALSE(DecodeBase64(bad, &bytes)) << bad;
    EXPECT_EQ(bytes, "kept");
  }
}

}  // namespace
}  // namespace pinemail
