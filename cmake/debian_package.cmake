# Installation under a prefix and the Debian package that CPack makes from it
# (`cpack -G DEB`, run by scripts/package-deb): the executable, the manual page
# pinemail(1), the README and the examples under share/doc/pinemail/ with the
# copyright file and the changelog that Debian policy asks for.
include(GNUInstallDirs)

# Who answers for the package: its Maintainer field and the changelog's
# signature. A packager sets it once, e.g.
# cmake --preset deb -DPINEMAIL_MAINTAINER="Taro Yamada <taro@example.jp>".
set(PINEMAIL_MAINTAINER "pinemail 工房 <packages@pinemail.example.org>"
    CACHE STRING "Maintainer of the Debian package: a name and an address in angle brackets")
if(NOT PINEMAIL_MAINTAINER MATCHES "^[^<>]+ <[^<> ]+@[^<> ]+>$")
  message(FATAL_ERROR "PINEMAIL_MAINTAINER must be a name and an address, "
                      "\"Name <address>\": \"${PINEMAIL_MAINTAINER}\"")
endif()

install(TARGETS pinemail RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual page and the changelog carry the version and are installed
# gzipped; -n leaves the name and time out, so one source makes one package.
set(PINEMAIL_VERSION ${PROJECT_VERSION})
set(PINEMAIL_DEB_RELEASE 1)
set(PINEMAIL_DEB_VERSION ${PROJECT_VERSION}-${PINEMAIL_DEB_RELEASE})
set(docs ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/pinemail.1 ${docs}/pinemail.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${docs}/changelog.Debian
               @ONLY)
set(gzipped)
foreach(file pinemail.1 changelog.Debian)
  add_custom_command(OUTPUT ${docs}/${file}.gz
    COMMAND gzip -9nkf ${docs}/${file}
    DEPENDS ${docs}/${file}
    VERBATIM)
  list(APPEND gzipped ${docs}/${file}.gz)
endforeach()
add_custom_target(pinemail_docs ALL DEPENDS ${gzipped})

install(FILES ${docs}/pinemail.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md packaging/debian/copyright ${docs}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/mail-servers.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES examples/list.txt examples/newyear.txt examples/newyear-business.txt
              examples/newyear.html examples/card.png examples/pinemail.ini
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME pinemail)
set(CPACK_PACKAGE_VENDOR "pinemail 工房")
set(CPACK_PACKAGE_CONTACT "${PINEMAIL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send one personalised e-mail to every recipient of a list")
set(CPACK_PACKAGE_DESCRIPTION [[
For every record of a recipient list, pinemail reads a message template,
replaces its %KEYWORD% tokens by the record's values and sends the message
through sendmail or SMTP (or writes it to an outbox folder), unattended,
appending a report to its run log. It is made for New Year greetings sent
at midnight from cron or a timer; its messages, log and help are Japanese.]])
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PINEMAIL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pinemail.example.org/)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# libcurl and the C++ runtime, as dpkg-shlibdeps finds them in the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The help window loads GTK with dlopen only when it opens: a batch run does
# not need it, so it is recommended, not required.
if(TARGET PkgConfig::GTK3)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0")
endif()
# The default transport is the system's sendmail.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-mta | mail-transport-agent")
include(CPack)
