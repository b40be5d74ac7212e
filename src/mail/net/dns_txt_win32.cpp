// TXT lookups through the Windows DNS client (DnsQuery_W). Its waits are the
// system's own (about ten seconds at most) and a chosen server is always
// asked on port 53: DnsQuery_W takes no port.
#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
// After windows.h, whose types it needs.
#include <windns.h>

#include "mail/net/dns_txt.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

constexpr int kDnsPort = 53;

// Owns the record list DnsQuery_W returned.
class RecordList {
 public:
  RecordList() = default;
  ~RecordList() {
    if (records_ != nullptr) DnsRecordListFree(records_, DnsFreeRecordList);
  }
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  PDNS_RECORD* out() { return &records_; }
  const DNS_RECORDW* first() const { return reinterpret_cast<const DNS_RECORDW*>(records_); }

 private:
  PDNS_RECORD records_ = nullptr;
};

// The record's strings joined (RFC 7208 3.3).
std::string JoinStrings(const DNS_TXT_DATAW& text) {
  std::string joined;
  for (DWORD i = 0; i < text.dwStringCount; ++i) joined += WideToUtf8(text.pStringArray[i]);
  return joined;
}

TxtAnswer ReadTxtRecords(const DNS_RECORDW* record) {
  TxtAnswer answer = TxtAnswer::NoRecords();
  for (; record != nullptr; record = record->pNext) {
    if (record->wType != DNS_TYPE_TEXT) continue;
    answer.Add(JoinStrings(record->Data.TXT));
  }
  return answer;
}

TxtAnswer QueryFailure(DNS_STATUS status) {
  return TxtAnswer::QueryFailed(
      status == DNS_ERROR_RCODE_NAME_ERROR || status == DNS_INFO_NO_RECORDS,
      status == ERROR_TIMEOUT);
}

}  // namespace

TxtAnswer SystemTxtLookup::LookUpTxt(std::string_view name) {
  IP4_ARRAY servers{};
  IP4_ARRAY* chosen = nullptr;
  if (!server_.empty()) {
    std::string address;
    int port = 0;
    if (!ParseDnsServer(server_, &address, &port) || port != kDnsPort) {
      return TxtAnswer::NoAnswer("DNS サーバーの指定が不正です");
    }
    servers.AddrCount = 1;
    servers.AddrArray[0] = inet_addr(address.c_str());
    chosen = &servers;
  }
  RecordList records;
  const DNS_STATUS status =
      DnsQuery_W(Utf8ToWide(name).c_str(), DNS_TYPE_TEXT,
                 DNS_QUERY_STANDARD | DNS_QUERY_NO_HOSTS_FILE, chosen, records.out(), nullptr);
  if (status != ERROR_SUCCESS) return QueryFailure(status);
  return ReadTxtRecords(records.first());
}

}  // namespace pinemail
