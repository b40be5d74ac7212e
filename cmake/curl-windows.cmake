# libcurl for the Windows build: Debian's own curl source package, cross-built
# once into the build folder as a static library with Schannel (the Windows
# certificate store) for TLS and no other optional dependency. Later builds
# reuse it. Provides the imported target CURL::libcurl.
include(ExternalProject)

set(pinemail_curl_root ${CMAKE_BINARY_DIR}/curl)
set(pinemail_curl_install ${pinemail_curl_root}/install)
set(pinemail_curl_library ${pinemail_curl_install}/lib/libcurl.a)

# SMTP and SMTPS for mail; HTTP stays in, since Debian's patched sources call
# its header-size check from the code that SMTP shares (and HTTPS is what an
# OAuth token endpoint speaks).
set(pinemail_curl_disabled DICT FILE FTP GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB TELNET TFTP)
set(pinemail_curl_options
  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${pinemail_curl_install}
  # The same Windows floor as the program itself.
  -DCMAKE_C_FLAGS=-D_WIN32_WINNT=0x0601
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF
  -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DENABLE_UNICODE=ON
  -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_HSTS=ON
  # No CA bundle of the build machine's (its /etc/ssl/certs would become the
  # default, which Windows does not have): Schannel uses the Windows store.
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none)
foreach(protocol IN LISTS pinemail_curl_disabled)
  list(APPEND pinemail_curl_options -DCURL_DISABLE_${protocol}=ON)
endforeach()

ExternalProject_Add(pinemail_curl
  PREFIX ${pinemail_curl_root}
  SOURCE_DIR ${pinemail_curl_root}/source
  BINARY_DIR ${pinemail_curl_root}/build
  INSTALL_DIR ${pinemail_curl_install}
  DOWNLOAD_COMMAND ${CMAKE_SOURCE_DIR}/cmake/fetch-debian-source curl ${pinemail_curl_root}/source
  UPDATE_COMMAND ""
  CMAKE_ARGS ${pinemail_curl_options}
  BUILD_BYPRODUCTS ${pinemail_curl_library}
  LOG_DOWNLOAD ON LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# The headers appear only once the library is built.
file(MAKE_DIRECTORY ${pinemail_curl_install}/include)
add_library(CURL::libcurl STATIC IMPORTED GLOBAL)
set_target_properties(CURL::libcurl PROPERTIES
  IMPORTED_LOCATION ${pinemail_curl_library}
  INTERFACE_INCLUDE_DIRECTORIES ${pinemail_curl_install}/include
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;secur32;bcrypt;iphlpapi;advapi32;normaliz")
add_dependencies(CURL::libcurl pinemail_curl)
