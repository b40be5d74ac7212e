// Reads the start-up switches from the process environment.
#include "app/start_up_switches.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "batch/local_time.h"
#include "mail/net/waits.h"
#include "text/file_io.h"

namespace pinemail {

namespace {

// The test clock's offset; none when the file cannot be read or holds no
// whole number (a test replaces the file whole).
std::chrono::seconds ClockOffset(const std::string& path) {
  std::string reason;
  const File file = OpenFile(path, "rb", &reason);
  if (!file) return {};
  char text[32] = {};
  const std::size_t got = std::fread(text, 1, sizeof text - 1, file.get());
  std::string_view value(text, got);
  value.remove_suffix(value.size() - std::min(value.size(), value.find_last_not_of(" \r\n") + 1));
  long long seconds = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (ec != std::errc() || end != value.data() + value.size()) return {};
  return std::chrono::seconds(seconds);
}

}  // namespace

void ApplyStartUpSwitches(BatchEnvironment& env) {
  env.keep_journal = std::getenv("PINEMAIL_BENCH_NO_JOURNAL") == nullptr;
  const char* clock_file = std::getenv("PINEMAIL_CLOCK_FILE");
  if (clock_file == nullptr || *clock_file == '\0') return;
  env.wall_clock = [path = std::string(clock_file)] {
    return WallClock::now() + ClockOffset(path);
  };
  env.now = [clock = env.wall_clock] { return LocalTimestampAt(clock()); };
}

TransportTuning TransportTuningFromEnvironment() {
  TransportTuning tuning;
  if (const char* scale = std::getenv("PINEMAIL_SMTP_TIMEOUT_SCALE")) {
    tuning.wait_scale = ParseWaitScale(scale);
  }
  for (const char* name : {"PINEMAIL_CA_FILE", "CURL_CA_BUNDLE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      tuning.ca_file = value;
      break;
    }
  }
  if (const char* server = std::getenv("PINEMAIL_DNS_SERVER")) tuning.dns_server = server;
  return tuning;
}

}  // namespace pinemail
