// Measures keyword substitution against the literal scan, its growth with the
// body's size, and the parsing of list lines.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "merge/keywords.h"
#include "merge/record.h"
#include "merge/reference_scan.h"

namespace pinemail {
namespace {

// A table in the shape of a real greeting list: a handful of keywords, and
// one record's values for them.
KeywordTable GreetingTable() {
  KeywordTable table;
  table.Build("NAME,KEN,GOBI,会社,部署,役職,住所,電話");
  return table;
}

const std::vector<std::string> kGreetingValues = {
    "田中", "北海道", "だべ", "松林商事", "営業部", "課長", "札幌市中央区北1条西2丁目", "011-000-0000"};

// Japanese text with `tokens` keyword tokens spread evenly, about `bytes`
// long. Every eighth token has no key.
std::string JapaneseBody(std::size_t bytes, std::size_t tokens) {
  static const char* const kKeys[] = {"%NAME%", "%KEN%", "%GOBI%", "%会社%",
                                      "%部署%", "%役職%", "%住所%", "%UNKNOWN%"};
  const std::string filler = "新年あけましておめでとうございます。本年もよろしくお願いいたします。\r\n";
  const std::size_t gap = bytes / (tokens + 1);
  std::string body;
  body.reserve(bytes + 64);
  for (std::size_t t = 0; t <= tokens; ++t) {
    std::size_t written = 0;
    while (written + filler.size() <= gap) {
      body += filler;
      written += filler.size();
    }
    body.append(filler, 0, (gap - written) / 3 * 3);  // whole characters only
    if (t < tokens) body += kKeys[t % 8];
  }
  return body;
}

void BM_SubstituteKeywords32K(benchmark::State& state) {
  const KeywordTable table = GreetingTable();
  const std::string body = JapaneseBody(32 * 1024, 1000);
  std::string work;
  for (auto _ : state) {
    work = body;
    SubstituteKeywords(work, table, kGreetingValues);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_SubstituteKeywords32K);

void BM_ReferenceScan32K(benchmark::State& state) {
  const KeywordTable table = GreetingTable();
  const std::string body = JapaneseBody(32 * 1024, 1000);
  std::string ours = body;
  SubstituteKeywords(ours, table, kGreetingValues);
  if (ours != testing::ReferenceScan(body, table.keys(), kGreetingValues)) {
    state.SkipWithError("the two scans disagree on this body");
    return;
  }
  for (auto _ : state) {
    std::string result = testing::ReferenceScan(body, table.keys(), kGreetingValues);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ReferenceScan32K)->Unit(benchmark::kMillisecond);

// The same density of tokens (one per 32 bytes or so) at growing sizes.
void BM_SubstituteKeywordsBySize(benchmark::State& state) {
  const KeywordTable table = GreetingTable();
  const auto bytes = static_cast<std::size_t>(state.range(0));
  const std::string body = JapaneseBody(bytes, bytes / 32);
  std::string work;
  for (auto _ : state) {
    work = body;
    SubstituteKeywords(work, table, kGreetingValues);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_SubstituteKeywordsBySize)->Arg(32 << 10)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);

// Line rules plus record parsing, as the batch run applies them per line.
void BM_ParseListLines(benchmark::State& state) {
  const KeywordTable table = GreetingTable();
  RecipientRecord record;
  const std::vector<std::string> lines = {
      "taro@example.jp,田中 太郎,newyear.txt,田中,北海道,だべ,松林商事,営業部,課長,札幌市,011",
      "  hanako@example.jp, 佐藤 花子 ,newyear.txt,佐藤,大阪",
      "#comment line,not a record",
      "jiro@example.jp,鈴木 次郎,thanks.txt,鈴木,東京,,,,,,,,surplus,fields",
  };
  std::size_t records = 0;
  for (auto _ : state) {
    for (const std::string& line : lines) {
      const std::string_view text = RecordLine(line);
      if (text.empty()) continue;
      record = ParseRecord(text, table);
      ++records;
    }
    benchmark::DoNotOptimize(record.address.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(records));
}
BENCHMARK(BM_ParseListLines);

}  // namespace
}  // namespace pinemail

BENCHMARK_MAIN();
