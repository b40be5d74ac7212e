// Tests of the Simple MAPI transport's reasons and address form.
#include "mail/local/mapi_transport_win32.h"

#include <gtest/gtest.h>

namespace pinemail {
namespace {

TEST(MapiErrorReason, NamesTheCodesAClientReturnsFromSending) {
  EXPECT_EQ(MapiErrorReason(1), "MAPI_E_USER_ABORT (1)");
  EXPECT_EQ(MapiErrorReason(2), "MAPI_E_FAILURE (2)");
  EXPECT_EQ(MapiErrorReason(3), "MAPI_E_LOGIN_FAILURE (3)");
  EXPECT_EQ(MapiErrorReason(5), "MAPI_E_INSUFFICIENT_MEMORY (5)");
  EXPECT_EQ(MapiErrorReason(10), "MAPI_E_TOO_MANY_RECIPIENTS (10)");
  EXPECT_EQ(MapiErrorReason(14), "MAPI_E_UNKNOWN_RECIPIENT (14)");
  EXPECT_EQ(MapiErrorReason(18), "MAPI_E_TEXT_TOO_LARGE (18)");
  EXPECT_EQ(MapiErrorReason(21), "MAPI_E_AMBIGUOUS_RECIPIENT (21)");
  EXPECT_EQ(MapiErrorReason(25), "MAPI_E_INVALID_RECIPS (25)");
  EXPECT_EQ(MapiErrorReason(26), "MAPI_E_NOT_SUPPORTED (26)");
}

TEST(MapiErrorReason, KeepsTheNumberOfAnUnknownCode) {
  EXPECT_EQ(MapiErrorReason(0), "MAPI のエラー (0)");
  EXPECT_EQ(MapiErrorReason(7), "MAPI のエラー (7)");
  EXPECT_EQ(MapiErrorReason(0x80004005UL), "MAPI のエラー (2147500037)");
}

TEST(MapiTransport, RefusesToSendBeforeSigningOn) {
  MapiTransport transport;
  OutgoingMessage message{"田中 一郎", "tanaka@example.jp", "件名", "本文\r\n"};
  MailResult result = transport.Send(message);
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.reason.empty());
  transport.SignOff();  // harmless without a session
  EXPECT_FALSE(transport.Send(message).ok());
}

}  // namespace
}  // namespace pinemail
