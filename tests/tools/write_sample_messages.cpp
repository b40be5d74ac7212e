// Writes a set of messages through the message writer, as .eml files, with a
// JSON list of the values each was written from, for a strict MIME parser to
// check (tests/mime/check_messages.py).
#include <cstdio>
#include <string>
#include <vector>

#include "mail/message/message_id.h"
#include "mail/message/message_writer.h"
#include "mail/message/rfc5322_date.h"

namespace {

using pinemail::Mailbox;
using pinemail::MessageFields;

struct Sample {
  std::string file;
  MessageFields fields;
};

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// `count` characters taken in turn from `alphabet`.
std::string Repeat(const std::vector<std::string>& alphabet, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += alphabet[i % alphabet.size()];
  return text;
}

std::string LongBody(std::size_t lines) {
  std::string body = "このメールは、pinemail 工房　にて公開された\r\n\r\n";
  for (std::size_t i = 0; i < lines; ++i) {
    body += std::to_string(i) + "行目: 謹んで新春のお慶びを申し上げます。髙①ｱｲｳ🎍 tab\there\r\n";
  }
  return body;
}

std::vector<Sample> Samples() {
  const std::vector<std::string> japanese = {"新", "年", "あ", "け", "ま", "し", "て",
                                             "お", "め", "で", "と", "う", "　", "！"};
  const std::vector<std::string> mixed = {"髙", "①", "ｱ", "ﾞ", "🎍", "a", " ", "é", "漢"};
  const std::vector<std::string> ascii = {"Happy", " ", "New", " ", "Year", " ", "2027,", " "};

  std::vector<Sample> samples;
  pinemail::Rfc5322Clock clock;
  pinemail::MessageIdSource ids;
  auto add = [&](Mailbox to, std::string subject, std::string text) {
    Sample sample;
    char name[32];
    std::snprintf(name, sizeof name, "sample%04zu.eml", samples.size() + 1);
    sample.file = name;
    sample.fields.from = {"山田 太郎", "taro@example.jp"};
    sample.fields.to = std::move(to);
    sample.fields.subject = std::move(subject);
    sample.fields.text = std::move(text);
    sample.fields.date = clock.Now();
    sample.fields.message_id = ids.NewId(sample.fields.from.address);
    samples.push_back(std::move(sample));
  };

  // Japanese and mixed names and subjects of every length up to past two lines.
  for (std::size_t length = 1; length <= 90; ++length) {
    add({Repeat(japanese, length), "hanako@example.com"}, Repeat(japanese, length), "本文\r\n");
    add({Repeat(mixed, length), "h@example.com"}, Repeat(mixed, length), "body\r\n");
  }
  // The longest subject a template gives: 63 characters.
  add({"佐藤 花子", "hanako@example.com"}, Repeat(japanese, 63), "本文\r\n");
  add({"佐藤 花子", "hanako@example.com"}, Repeat({"髙", "①", "🎍"}, 63), "本文\r\n");
  add({Repeat({"株", "式", "会", "社"}, 40), "company@example.jp"}, "a long name without blanks",
      "x\r\n");
  add({"ﾔﾏﾀﾞ ﾀﾛｳ", "yamada@example.jp"}, "ｼﾝﾈﾝ ｱｹﾏｼﾃ ｵﾒﾃﾞﾄｳ", "ﾊﾝｶｸ\r\n");
  // Long names with blanks where an encoded-word could end: as few words as
  // the limit allows all the same.
  for (std::size_t half : {8, 14, 15, 16, 22, 30, 45}) {
    add({Repeat({"田", "中"}, half) + " " + Repeat({"田", "中"}, half), "tanaka@example.jp"},
        "blank in a long name", "x\r\n");
    add({Repeat({"ｶ", "ﾞ"}, half) + "　" + Repeat({"a", "b"}, half * 2), "kana@example.jp"},
        "ideographic blank in a long name", "x\r\n");
  }
  // Tabs stay in a subject, an unstructured header.
  for (const char* subject : {"tab\there", "\tleading tab", "trailing tab\t", "年賀\tのご挨拶\t",
                              "\t\t", "two\t\ttabs and a blank"}) {
    add({"佐藤 花子", "hanako@example.com"}, subject, "x\r\n");
  }
  add({"佐藤 花子", "hanako@example.com"}, Repeat({"謹", "\t", "賀", " ", "a"}, 63), "x\r\n");
  // ASCII subjects: short, long (folded at blanks), odd blanks, look-alikes.
  for (std::size_t length : {1, 10, 60, 69, 70, 77, 78, 79, 150, 400}) {
    add({"Taro Yamada", "t@example.jp"}, Repeat(ascii, length), "body\r\n");
  }
  add({"A", "a@example.jp"}, "two  blanks   inside", "x\r\n");
  add({"A", "a@example.jp"}, " leading and trailing ", "x\r\n");
  add({"A", "a@example.jp"}, "=?UTF-8?B?QQ==?= looks encoded", "x\r\n");
  add({"A", "a@example.jp"}, std::string(120, 'x'), "one long word\r\n");
  add({"A", "a@example.jp"}, "", "empty subject\r\n");
  // ASCII names that need quoting, and names too long to quote on one line.
  for (const char* name :
       {"Taro, Y", "Say \"hi\"", "back\\slash", "T. Yamada", "a@b", "x (comment)", "semi;colon",
        "colon: here", "<angle>", "two  blanks", "Plain Atom Name",
        "A very long ASCII display name, with a comma, that cannot stand on one line at all"}) {
    add({name, "n@example.jp"}, "names", "x\r\n");
  }
  // No name at all.
  add({"", "nobody@example.jp"}, "empty name", "x\r\n");
  add({"   ", "blank@example.jp"}, "blank name", "x\r\n");
  add({"\xE3\x80\x80", "wide@example.jp"}, "ideographic blank name", "x\r\n");
  // Attempts to add headers through the name or the subject.
  for (const char* attack :
       {"x\r\nBcc: victim@example.com", "x\nBcc: victim@example.com", "x\rBcc: v@example.com",
        "山田\r\nBcc: victim@example.com", "\r\n\r\nfake body", "tab\there", "del\x7F\x01\x1F"}) {
    add({attack, "victim-check@example.jp"}, attack, "x\r\n");
  }
  // Bodies: empty, long, with every kind of character.
  add({"佐藤 花子", "hanako@example.com"}, "empty body", "");
  add({"佐藤 花子", "hanako@example.com"}, "long body", LongBody(3000));
  add({"佐藤 花子", "hanako@example.com"}, "no final break", "最後の行に改行なし");
  return samples;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_sample_messages FOLDER\n");
    return 2;
  }
  std::string folder = std::string(argv[1]) + "/";
  std::string index = "[\n";
  std::vector<Sample> samples = Samples();
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const Sample& sample = samples[i];
    if (!WriteFile(folder + sample.file, pinemail::WriteMessage(sample.fields))) {
      std::perror(sample.file.c_str());
      return 1;
    }
    index += "{\"file\": " + JsonString(sample.file) +
             ", \"from_name\": " + JsonString(sample.fields.from.display_name) +
             ", \"from_address\": " + JsonString(sample.fields.from.address) +
             ", \"to_name\": " + JsonString(sample.fields.to.display_name) +
             ", \"to_address\": " + JsonString(sample.fields.to.address) +
             ", \"subject\": " + JsonString(sample.fields.subject) +
             ", \"text\": " + JsonString(sample.fields.text) + "}" +
             (i + 1 < samples.size() ? ",\n" : "\n");
  }
  index += "]\n";
  if (!WriteFile(folder + "expected.json", index)) {
    std::perror("expected.json");
    return 1;
  }
  return 0;
}
