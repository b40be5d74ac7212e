// TXT lookups through glibc's resolver (res_nquery), with a resolver state
// of the lookup's own so that its short wait and test server touch nothing
// else in the process.
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "mail/net/dns_txt.h"

namespace pinemail {
namespace {

// The wait for one answer in seconds, and the tries per server: together a
// few seconds, so that a check before a run is never held up for long.
constexpr int kWaitSeconds = 3;
constexpr int kTries = 1;
// Enough for any answer, over UDP or TCP.
constexpr std::size_t kAnswerLimit = 65535;

// Owns a resolver state from res_ninit.
class ResolverState {
 public:
  ResolverState() : ready_(res_ninit(&state_) == 0) {}
  ~ResolverState() {
    if (ready_) res_nclose(&state_);
  }
  ResolverState(const ResolverState&) = delete;
  ResolverState& operator=(const ResolverState&) = delete;

  bool ready() const { return ready_; }
  res_state get() { return &state_; }

 private:
  struct __res_state state_ {};
  bool ready_;
};

// Makes `address`:`port` the only server asked. glibc keeps IPv6 servers
// from resolv.conf apart and asks them in place of nsaddr_list's entry at
// the same index, so those are dropped first.
void AskOnly(res_state state, const std::string& address, int port) {
  for (auto*& ipv6 : state->_u._ext.nsaddrs) {
    std::free(ipv6);
    ipv6 = nullptr;
  }
  sockaddr_in& server = state->nsaddr_list[0];
  server = sockaddr_in{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &server.sin_addr);
  state->nscount = 1;
}

// The record's character-strings joined (RFC 7208 3.3).
std::string JoinStrings(const unsigned char* data, std::size_t size) {
  std::string text;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = data[at++];
    const std::size_t taken = length < size - at ? length : size - at;
    text.append(reinterpret_cast<const char*>(data + at), taken);
    at += taken;
  }
  return text;
}

// The TXT records among the answers of a reply `size` bytes long.
TxtAnswer ReadTxtRecords(const unsigned char* reply, int size) {
  ns_msg message;
  if (ns_initparse(reply, size, &message) != 0)
    return TxtAnswer::NoAnswer("DNS の応答が壊れています");
  TxtAnswer answer = TxtAnswer::NoRecords();
  for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
    ns_rr record;
    if (ns_parserr(&message, ns_s_an, i, &record) != 0)
      return TxtAnswer::NoAnswer("DNS の応答が壊れています");
    if (ns_rr_type(record) != ns_t_txt) continue;
    answer.Add(JoinStrings(ns_rr_rdata(record), ns_rr_rdlen(record)));
  }
  return answer;
}

// A failed query: the name or its records do not exist, or no answer came.
TxtAnswer QueryFailure(int resolver_error) {
  return TxtAnswer::QueryFailed(resolver_error == HOST_NOT_FOUND || resolver_error == NO_DATA,
                                resolver_error == TRY_AGAIN);
}

}  // namespace

TxtAnswer SystemTxtLookup::LookUpTxt(std::string_view name) {
  ResolverState resolver;
  if (!resolver.ready()) return TxtAnswer::NoAnswer("DNS の設定を読めません");
  res_state state = resolver.get();
  state->retrans = kWaitSeconds;
  state->retry = kTries;
  if (!server_.empty()) {
    std::string address;
    int port = 0;
    if (!ParseDnsServer(server_, &address, &port))
      return TxtAnswer::NoAnswer("DNS サーバーの指定が不正です");
    AskOnly(state, address, port);
  }
  std::vector<unsigned char> reply(kAnswerLimit);
  const int size = res_nquery(state, std::string(name).c_str(), ns_c_in, ns_t_txt, reply.data(),
                              static_cast<int>(reply.size()));
  if (size < 0) return QueryFailure(state->res_h_errno);
  // A longer answer than the buffer was cut short; what fits is read.
  return ReadTxtRecords(reply.data(), std::min(size, static_cast<int>(reply.size())));
}

}  // namespace pinemail
