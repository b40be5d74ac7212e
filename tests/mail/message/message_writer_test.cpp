// Tests of the message writer: addresses, header encoding and folding, header
// injection, the body encoding, dates and message ids.
#include "mail/message/message_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "mail/message/mailbox.h"
#include "mail/message/message_id.h"
#include "mail/message/rfc5322_date.h"
#include "text/base64.h"

namespace pinemail {
namespace {

// ---------------------------------------------------------------------------
// A small independent reader of what the writer produces.

// The bytes of base64 text, which must be valid.
std::string Base64Decoded(std::string_view text) {
  std::string bytes;
  EXPECT_TRUE(DecodeBase64(text, &bytes)) << text;
  return bytes;
}

struct ParsedMessage {
  std::vector<std::string> raw_lines;                        // header lines as written
  std::vector<std::pair<std::string, std::string>> headers;  // unfolded
  std::vector<std::string> body_lines;
};

ParsedMessage Parse(const std::string& message, const std::string& line_end = "\r\n") {
  ParsedMessage parsed;
  std::size_t pos = 0;
  bool in_body = false;
  while (pos < message.size()) {
    std::size_t end = message.find(line_end, pos);
    EXPECT_NE(end, std::string::npos) << "unterminated last line";
    if (end == std::string::npos) break;
    std::string line = message.substr(pos, end - pos);
    pos = end + line_end.size();
    if (in_body) {
      parsed.body_lines.push_back(line);
    } else if (line.empty()) {
      in_body = true;
    } else if (line[0] == ' ' || line[0] == '\t') {
      parsed.raw_lines.push_back(line);
      parsed.headers.back().second += line;  // unfolding removes only the line break
    } else {
      parsed.raw_lines.push_back(line);
      std::size_t colon = line.find(':');
      EXPECT_NE(colon, std::string::npos) << line;
      parsed.headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
  }
  return parsed;
}

std::string Header(const ParsedMessage& parsed, const std::string& name) {
  for (const auto& [key, value] : parsed.headers) {
    if (key == name) return value;
  }
  ADD_FAILURE() << "no header " << name;
  return {};
}

// The encoded-words of a header value, checked for form and size.
std::vector<std::string> EncodedWords(const std::string& value) {
  std::vector<std::string> words;
  std::regex word("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?=");
  for (std::sregex_iterator it(value.begin(), value.end(), word), end; it != end; ++it) {
    EXPECT_LE(it->length(0), 75) << it->str(0);
    words.push_back((*it)[1].str());
  }
  return words;
}

// Decodes a value made only of encoded-words (blanks between them dropped),
// and checks that every word holds whole UTF-8 characters.
std::string DecodeWords(const std::string& value) {
  std::string text;
  for (const std::string& payload : EncodedWords(value)) {
    std::string piece = Base64Decoded(payload);
    EXPECT_FALSE(piece.empty());
    auto first = static_cast<unsigned char>(piece.front());
    EXPECT_NE(first & 0xC0, 0x80) << "encoded-word starts inside a character";
    std::size_t last_lead = piece.size();
    while (last_lead > 0 && (static_cast<unsigned char>(piece[last_lead - 1]) & 0xC0) == 0x80) {
      --last_lead;
    }
    if (last_lead == 0) {
      ADD_FAILURE() << "encoded-word without a lead byte";
      continue;
    }
    auto lead = static_cast<unsigned char>(piece[last_lead - 1]);
    std::size_t expected = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    EXPECT_EQ(piece.size() - (last_lead - 1), expected) << "encoded-word ends inside a character";
    text += piece;
  }
  return text;
}

void ExpectLinesWithin78(const ParsedMessage& parsed) {
  for (const std::string& line : parsed.raw_lines) EXPECT_LE(line.size(), 78u) << line;
}

MessageFields SampleFields() {
  MessageFields fields;
  fields.from = {"山田 太郎", "taro@example.jp"};
  fields.to = {"佐藤 花子", "hanako@example.com"};
  fields.subject = "あけましておめでとうございます";
  fields.text = "本文です。\r\n二行目\r\n";
  fields.date = "Fri, 01 Jan 2027 00:00:05 +0900";
  fields.message_id = "abc.123@example.jp";
  return fields;
}

// ---------------------------------------------------------------------------

TEST(IsPlainAddressTest, AcceptsOrdinaryAddressesInTheirWireForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"taro@example.jp", "taro@example.jp"},
      {"first.last+tag@mail.example.co.jp", "first.last+tag@mail.example.co.jp"},
      {"o'brien@example.ie", "o'brien@example.ie"},
      {"-taro@docomo.ne.jp", "-taro@docomo.ne.jp"},
      // Old Japanese mobile addresses: no dot-atom, so quoted.
      {"taro..yamada.@docomo.ne.jp", "\"taro..yamada.\"@docomo.ne.jp"},
      {".hana@ezweb.ne.jp", "\".hana\"@ezweb.ne.jp"},
      // Quoted in the list: as it stands, unquoted only when it need not be.
      {"\"taro..yamada.\"@docomo.ne.jp", "\"taro..yamada.\"@docomo.ne.jp"},
      {"\"a b\\\"c\"@x", "\"a b\\\"c\"@x"},
      {"\"taro\"@example.jp", "taro@example.jp"},
  };
  for (const auto& [written, wire] : cases) {
    std::string out;
    EXPECT_TRUE(WireAddress(written, &out)) << written;
    EXPECT_EQ(out, wire);
  }
}

TEST(IsPlainAddressTest, RejectsAnythingThatCouldBeMisread) {
  for (const char* address : {"",
                              "taro",
                              "@example.jp",
                              "taro@",
                              "a@b@c",
                              "taro @example.jp",
                              "taro@example.jp\n",
                              "ta\rro@example.jp",
                              "taro@exa\tmple.jp",
                              "<taro@example.jp>",
                              "\"a@b\"@c",
                              "\"a<b\"@c",
                              "\"a\"b\"@c",
                              "\"ab\\\"@c",
                              "\"\"@c",
                              "\"a\tb\"@c",
                              "a@b,c@d",
                              "a@b;c@d",
                              "a(b)@c",
                              "a\\b@c",
                              "x@[127.0.0.1]",
                              "太郎@example.jp",
                              "taro@example.jp\xE3\x80\x80",
                              "a:b@c"}) {
    EXPECT_FALSE(IsPlainAddress(address)) << address;
  }
}

TEST(ParseMailboxTest, ReadsTheUsualForms) {
  struct Case {
    const char* text;
    const char* name;
    const char* address;
  } cases[] = {
      {"山田 太郎 <taro@example.jp>", "山田 太郎", "taro@example.jp"},
      {"\"Taro, Y\" <t@x>", "Taro, Y", "t@x"},
      {"\"Say \\\"hi\\\" \\\\o/\" <t@x>", "Say \"hi\" \\o/", "t@x"},
      {"taro@example.jp", "", "taro@example.jp"},
      {"  <taro@example.jp>  ", "", "taro@example.jp"},
      {"\xE3\x80\x80山田<taro@example.jp>\xE3\x80\x80", "山田", "taro@example.jp"},
      {"山田 <taro..y.@docomo.ne.jp>", "山田", "\"taro..y.\"@docomo.ne.jp"},
  };
  for (const Case& c : cases) {
    Mailbox mailbox;
    ASSERT_TRUE(ParseMailbox(c.text, &mailbox)) << c.text;
    EXPECT_EQ(mailbox.display_name, c.name) << c.text;
    EXPECT_EQ(mailbox.address, c.address) << c.text;
  }
}

TEST(ParseMailboxTest, FailsWithoutAPlainAddressAndLeavesTheResultAlone) {
  for (const char* text : {"", "山田 太郎", "山田 <>", "山田 <taro>", "<a@b> trailing",
                           "山田 <taro@example.jp", "a@b, c@d", "name <a b@y>"}) {
    Mailbox mailbox{"keep", "keep@example.jp"};
    EXPECT_FALSE(ParseMailbox(text, &mailbox)) << text;
    EXPECT_EQ(mailbox.address, "keep@example.jp");
  }
}

TEST(WriteMessageTest, WritesTheHeadersInOrderAndABlankLine) {
  ParsedMessage parsed = Parse(WriteMessage(SampleFields()));
  std::vector<std::string> names;
  for (const auto& header : parsed.headers) names.push_back(header.first);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                                      "Content-Type", "Content-Transfer-Encoding"}));
  EXPECT_EQ(Header(parsed, "Date"), " Fri, 01 Jan 2027 00:00:05 +0900");
  EXPECT_EQ(Header(parsed, "Message-ID"), " <abc.123@example.jp>");
  EXPECT_EQ(Header(parsed, "MIME-Version"), " 1.0");
  EXPECT_EQ(Header(parsed, "Content-Type"), " text/plain; charset=UTF-8");
  EXPECT_EQ(Header(parsed, "Content-Transfer-Encoding"), " base64");
}

TEST(WriteMessageTest, KeepsAShortJapaneseNameInOneEncodedWord) {
  ParsedMessage parsed = Parse(WriteMessage(SampleFields()));
  std::string to = Header(parsed, "To");
  EXPECT_EQ(EncodedWords(to).size(), 1u) << to;
  EXPECT_EQ(DecodeWords(to), "佐藤 花子");
  EXPECT_TRUE(to.ends_with(" <hanako@example.com>")) << to;
  EXPECT_EQ(DecodeWords(Header(parsed, "Subject")), "あけましておめでとうございます");
}

TEST(WriteMessageTest, WritesAsciiNamesAsAtomsOrQuotedStrings) {
  struct Case {
    const char* name;
    const char* written;
  } cases[] = {
      {"Taro Yamada", " Taro Yamada <t@x>"},
      {"Taro, Y", " \"Taro, Y\" <t@x>"},
      {"Say \"hi\" \\o/", " \"Say \\\"hi\\\" \\\\o/\" <t@x>"},
      {"T. Yamada", " \"T. Yamada\" <t@x>"},
      {"two  blanks", " \"two  blanks\" <t@x>"},
      {"", " t@x"},
      {"   ", " t@x"},
  };
  for (const Case& c : cases) {
    MessageFields fields = SampleFields();
    fields.to = {c.name, "t@x"};
    EXPECT_EQ(Header(Parse(WriteMessage(fields)), "To"), c.written) << c.name;
  }
}

TEST(WriteMessageTest, EncodesAsciiThatADecoderWouldAlter) {
  MessageFields fields = SampleFields();
  fields.to.display_name = "=?UTF-8?B?QQ==?=";
  fields.subject = "see =?UTF-8?B?QQ==?= here";
  ParsedMessage parsed = Parse(WriteMessage(fields));
  EXPECT_EQ(DecodeWords(Header(parsed, "To").substr(0, Header(parsed, "To").find(" <"))),
            "=?UTF-8?B?QQ==?=");
  EXPECT_EQ(DecodeWords(Header(parsed, "Subject")), "see =?UTF-8?B?QQ==?= here");

  fields.subject = " leading and trailing ";
  EXPECT_EQ(DecodeWords(Header(Parse(WriteMessage(fields)), "Subject")), " leading and trailing ");
}

// Names and subjects of every length up to well past one line, in scripts of
// one to four bytes a character: the words hold whole characters, at most 75
// each, lines stay within 78, and decoding gives the text back.
TEST(WriteMessageTest, SplitsLongTextIntoWholeCharactersWithinTheLimits) {
  const std::vector<std::string> alphabets[] = {
      {"あ", "漢", "髙", "①", "ｱ", "ﾞ"},
      {"😀", "a", "é", "字"},
      {"a", "b", "c", "=", "?", "_"},
  };
  for (const auto& alphabet : alphabets) {
    std::string text;
    for (int length = 1; length <= 130; ++length) {
      text += alphabet[static_cast<std::size_t>(length) % alphabet.size()];
      if (alphabet[0] == "a" && length % 11 != 0) continue;  // ASCII: a few lengths suffice
      MessageFields fields = SampleFields();
      fields.subject = "▲" + text;
      fields.to.display_name = "▲" + text;
      ParsedMessage parsed = Parse(WriteMessage(fields));
      ExpectLinesWithin78(parsed);
      EXPECT_EQ(DecodeWords(Header(parsed, "Subject")), "▲" + text);
      std::string to = Header(parsed, "To");
      EXPECT_TRUE(to.ends_with("<hanako@example.com>")) << to;
      EXPECT_EQ(DecodeWords(to), "▲" + text);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(WriteMessageTest, FoldsALongAsciiSubjectAtItsBlanks) {
  // Double blanks now and then: a fold must keep them.
  std::string subject = "word0";
  for (int i = 1; i < 40; ++i) subject += (i % 5 == 0 ? "  word" : " word") + std::to_string(i);
  MessageFields fields = SampleFields();
  fields.subject = subject;
  ParsedMessage parsed = Parse(WriteMessage(fields));
  ExpectLinesWithin78(parsed);
  EXPECT_EQ(Header(parsed, "Subject"), " " + subject);
  EXPECT_TRUE(EncodedWords(Header(parsed, "Subject")).empty());
}

// A name or subject carrying line breaks must not add a header of its own.
TEST(WriteMessageTest, NeverLetsANameOrSubjectStartAHeader) {
  const char* attacks[] = {"x\r\nBcc: victim@example.com",    "x\nBcc: victim@example.com",
                           "x\rBcc: victim@example.com",      "\r\n\r\nbody text",
                           "山田\r\nBcc: victim@example.com", "tab\there\x7F\x01"};
  for (const char* attack : attacks) {
    for (const char* line_end : {"\r\n", "\n"}) {
      MessageFields fields = SampleFields();
      fields.from.display_name = attack;
      fields.to.display_name = attack;
      fields.subject = attack;
      std::string message = WriteMessage(fields, line_end);
      ParsedMessage parsed = Parse(message, line_end);
      EXPECT_EQ(parsed.headers.size(), 8u) << attack;
      for (const std::string& line : parsed.raw_lines) {
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_FALSE(line.starts_with("Bcc")) << line;
      }
      if (std::string_view(line_end) == "\n") {
        EXPECT_EQ(message.find('\r'), std::string::npos);
      }
    }
  }
}

TEST(WriteMessageTest, NeverWritesAContinuationLineOfBlanksOnly) {
  // An address of controls (refused by every transport, but the writer must
  // still write a well-formed header) once folded into a line of blanks.
  MessageFields fields = SampleFields();
  fields.to = Mailbox{"", std::string(82, '\x02')};
  ParsedMessage parsed = Parse(WriteMessage(fields, "\r\n"), "\r\n");
  EXPECT_EQ(parsed.headers.size(), 8u);
  for (const std::string& line : parsed.raw_lines) {
    EXPECT_NE(line.find_first_not_of(" \t"), std::string::npos) << "a line of blanks";
  }
}

TEST(WriteMessageTest, EncodesTheBodyInBase64LinesOf76) {
  MessageFields fields = SampleFields();
  std::string text;
  for (int i = 0; i < 200; ++i) text += "行" + std::to_string(i) + " line\r\n";
  text += "no final break";
  // Sizes around the 3-byte groups and the 57 bytes of one full line.
  for (const std::string& body : {std::string(), std::string("a"), std::string("ab"),
                                  std::string(57, 'x'), std::string(58, 'x'), text}) {
    fields.text = body;
    ParsedMessage parsed = Parse(WriteMessage(fields));
    std::string joined;
    for (std::size_t i = 0; i < parsed.body_lines.size(); ++i) {
      if (i + 1 < parsed.body_lines.size()) {
        EXPECT_EQ(parsed.body_lines[i].size(), 76u);
      } else {
        EXPECT_LE(parsed.body_lines[i].size(), 76u);
      }
      joined += parsed.body_lines[i];
    }
    EXPECT_EQ(joined.size() % 4, 0u);
    EXPECT_EQ(Base64Decoded(joined), fields.text) << body.size();
  }
}

TEST(WriteMessageTest, ReplacesMalformedUtf8SoTheDeclaredCharsetHolds) {
  MessageFields fields = SampleFields();
  fields.subject = "bad \xFF end";
  fields.text =
      "a\xC0\xAF"
      "b";
  ParsedMessage parsed = Parse(WriteMessage(fields));
  EXPECT_EQ(DecodeWords(Header(parsed, "Subject")), "bad \xEF\xBF\xBD end");
  std::string body;
  for (const std::string& line : parsed.body_lines) body += line;
  EXPECT_EQ(Base64Decoded(body),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
}

TEST(Rfc5322DateTest, FormatsWithEnglishNamesAndTheOffset) {
  std::tm time{};
  time.tm_year = 2027 - 1900;
  time.tm_mon = 0;
  time.tm_mday = 1;
  time.tm_wday = 5;
  time.tm_hour = 0;
  time.tm_min = 0;
  time.tm_sec = 5;
  EXPECT_EQ(FormatRfc5322Date(time, 9 * 60), "Fri, 01 Jan 2027 00:00:05 +0900");
  time.tm_mon = 11;
  time.tm_mday = 31;
  time.tm_wday = 0;
  time.tm_hour = 23;
  EXPECT_EQ(FormatRfc5322Date(time, -(3 * 60 + 30)), "Sun, 31 Dec 2027 23:00:05 -0330");
  EXPECT_EQ(FormatRfc5322Date(time, 0), "Sun, 31 Dec 2027 23:00:05 +0000");

  std::regex form(
      "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}");
  std::string now = Rfc5322Clock().Now();
  EXPECT_TRUE(std::regex_match(now, form)) << now;
}

TEST(NewMessageIdTest, IsUniqueAndUsesTheSendersDomain) {
  MessageIdSource ids;
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string id = ids.NewId("taro@example.jp");
    EXPECT_TRUE(seen.insert(id).second) << id;
    EXPECT_TRUE(id.ends_with("@example.jp")) << id;
    EXPECT_EQ(id.find_first_of("<> \"\r\n"), std::string::npos) << id;
  }
  EXPECT_TRUE(ids.NewId("not an address").ends_with("@pinemail.invalid"));
  EXPECT_TRUE(ids.NewId("").ends_with("@pinemail.invalid"));
}

TEST(NewMessageIdTest, AKeyGivesTheSameIdEachTimeAndNoKeyANewOneFromTheStamps) {
  const MessageStamps stamps = {[] { return "Fri, 01 Jan 2027 00:00:05 +0900"; },
                                [](std::string_view from) { return "new@" + std::string(from); }};
  OutgoingMessage message{"太郎", "a@example.org", "件名", "本文\r\n"};
  const Mailbox from{"", "taro@example.jp"};
  EXPECT_EQ(FieldsFor(message, from, stamps).message_id, "new@taro@example.jp");
  EXPECT_EQ(FieldsFor(message, from, stamps).date, "Fri, 01 Jan 2027 00:00:05 +0900");
  message.message_key = "0123456789abcdef.fedcba9876543210.2";
  EXPECT_EQ(FieldsFor(message, from, stamps).message_id,
            "0123456789abcdef.fedcba9876543210.2@example.jp");
  EXPECT_EQ(MessageIdFor("k.1", "<not an address>"), "k.1@pinemail.invalid");
}

}  // namespace
}  // namespace pinemail
