// The libcurl set-up every connection of the program shares: the library
// started once, and the certificate checks of TLS, so that the SMTP session
// and the OAuth requests cannot drift apart on what they trust.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace pinemail {

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
// A libcurl easy handle, cleaned up when it goes.
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// Starts libcurl (curl_global_init) the first time; false when it could not
// start, then and on every later call.
bool StartCurl();

// A new handle for `protocols` (libcurl's list, "smtp,smtps" or "https")
// with TLS checked: the peer's certificate chain and its host name verified,
// revocation checked where the TLS library does (Schannel) without failing
// when the revocation server cannot be reached, and `ca_file`, when not
// empty, trusted in place of the system's certificate store; no signals.
// Null when libcurl could not start or make a handle.
CurlHandle NewCurlHandle(const char* protocols, const std::string& ca_file);

}  // namespace pinemail
