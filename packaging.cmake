# Binary packages of the installed tree: a tarball for any Linux and a Debian
# package. Build them from a finished build tree with
#   cpack --config build/CPackConfig.cmake -B build/packages
# (or `cmake --build build --target package`). Both hold what `cmake --install`
# installs: the four programs, their manual pages, the bash completion, and
# the README, guide and performance notes with the example configuration,
# service unit, log rotation snippet, scripting recipes and one-shot and service set-up scripts
# under share/doc/qzucon.

set(CPACK_PACKAGE_NAME qzucon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the qzucon developers")
# MIT; installed as share/doc/qzucon/LICENSE and, for Debian, as copyright.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# A placeholder until the project has a maintainers' address of its own.
set(CPACK_PACKAGE_CONTACT "qzucon maintainers <maintainers@qzucon.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "text-mode console that follows and steers the service module of remote servers")
# Lines short enough for a package's extended description.
set(CPACK_PACKAGE_DESCRIPTION "qzucon follows the scrambled UDP log datagrams of one or more remote
servers, answers their challenges with a password proof, shows their log
lines and keeps a log file per server; it sends heartbeats, commands and
exit notices. Scripts on the same host drive it through its private
control socket with qzuconctl, which prints the servers' answers, or
through local TCP or UDP input. The package also holds the stand-in
server qzstandin and the load tool qzload.")
set(CPACK_PACKAGE_FILE_NAME "qzucon-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_GENERATOR "TGZ;DEB")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# ssh carries qzuconctl -H to other hosts.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, logrotate, openssh-client")
# The programs need the C and C++ runtime and RE2 (their patterns' engine),
# qzuconctl ncurses with wide characters (top's screen); let dpkg-shlibdeps
# name the versions when it is there, else name the libraries without
# versions.
find_program(QZUCON_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(QZUCON_DPKG_SHLIBDEPS)
if(QZUCON_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libre2-9, libncursesw6, libtinfo6")
endif()

include(CPack)
