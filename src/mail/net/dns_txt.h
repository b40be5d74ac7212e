// DNS TXT lookups through the system's resolver, behind a small interface so
// that the checks built on them can be tested with a fake (dns_txt_posix.cpp:
// glibc's res_nquery; dns_txt_win32.cpp: DnsQuery_W).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pinemail {

// What one TXT lookup found.
struct TxtAnswer {
  enum class Outcome {
    kRecords,    // the name has TXT records (in `records`)
    kNoRecords,  // the name does not exist, or has no TXT record
    kNoAnswer,   // no usable answer: a timeout, a server failure, no network
  };
  Outcome outcome = Outcome::kNoAnswer;
  // kRecords: each record's strings joined (RFC 7208 3.3), one entry each.
  std::vector<std::string> records;
  // kNoAnswer: why, in a few words.
  std::string reason;

  static TxtAnswer NoRecords() {
    TxtAnswer answer;
    answer.outcome = Outcome::kNoRecords;
    return answer;
  }
  static TxtAnswer NoAnswer(std::string reason) {
    TxtAnswer answer;
    answer.reason = std::move(reason);
    return answer;
  }
  // A query that failed: the name or its TXT records do not exist
  // (`no_such_records`), no reply came (`timed_out`), or it could not be made.
  static TxtAnswer QueryFailed(bool no_such_records, bool timed_out);

  // One TXT record of the answer, its strings joined.
  void Add(std::string record) {
    records.push_back(std::move(record));
    outcome = Outcome::kRecords;
  }
};

// Looks up the TXT records of a domain name.
class TxtLookup {
 public:
  virtual ~TxtLookup() = default;
  virtual TxtAnswer LookUpTxt(std::string_view name) = 0;
};

// The system's resolver, with a short wait (a few seconds, at most two
// tries) so that a check before a run is never held up for long.
class SystemTxtLookup : public TxtLookup {
 public:
  // `server`: empty for the system's configured name servers; for tests
  // "IPv4[:port]", the only server asked.
  explicit SystemTxtLookup(std::string server = {}) : server_(std::move(server)) {}
  TxtAnswer LookUpTxt(std::string_view name) override;

 private:
  std::string server_;
};

// Splits "IPv4[:port]" into its address and port (53 when not given). False
// when the address is not a dotted IPv4 address or the port not 1-65535.
bool ParseDnsServer(std::string_view server, std::string* address, int* port);

}  // namespace pinemail
