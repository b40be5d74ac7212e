// Starts libcurl once and gives every handle the same certificate checks.
#include "mail/net/curl_session.h"

namespace pinemail {

bool StartCurl() {
  static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return started;
}

CurlHandle NewCurlHandle(const char* protocols, const std::string& ca_file) {
  if (!StartCurl()) return nullptr;
  CurlHandle handle(curl_easy_init());
  if (!handle) return nullptr;
  CURL* const curl = handle.get();
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // Schannel (Windows) checks revocation; a revocation server that cannot be
  // reached must not fail every run. Other TLS libraries ignore the flag.
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  // libcurl copies the text.
  if (!ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
  // Names are resolved on a thread, not by alarm, and sends carry
  // MSG_NOSIGNAL: no signal handler needs changing.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  return handle;
}

}  // namespace pinemail
