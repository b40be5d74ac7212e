// Tests of the libcurl the Windows build links: Schannel and the Windows
// certificate store, the mail protocols, no optional library, and nothing of
// the machine it was built on.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace pinemail {
namespace {

TEST(CurlForWindows, SchannelWithTheWindowsStoreAndNoOptionalLibrary) {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->ssl_version, "Schannel");
  // A CA file or folder built in would take the Windows store's place, and
  // a path of the build machine exists on no Windows system.
  EXPECT_EQ(info->cainfo, nullptr) << info->cainfo;
  EXPECT_EQ(info->capath, nullptr) << info->capath;
  std::set<std::string> protocols;
  for (const char* const* protocol = info->protocols; *protocol != nullptr; ++protocol) {
    protocols.insert(*protocol);
  }
  // HTTP comes with the build (see cmake/curl-windows.cmake).
  EXPECT_EQ(protocols, (std::set<std::string>{"http", "https", "smtp", "smtps"}));
  EXPECT_EQ(info->libz_version, nullptr);
  EXPECT_EQ(info->libidn, nullptr);
  EXPECT_EQ(info->libssh_version, nullptr);
  EXPECT_EQ(info->nghttp2_version, nullptr);
  EXPECT_EQ(info->brotli_version, nullptr);
  EXPECT_EQ(info->zstd_version, nullptr);
}

}  // namespace
}  // namespace pinemail
