# The studio: its server on cpp-httplib as Debian builds it (a shared library
# whose compile definitions come from pkg-config), and its page, copied beside
# the tool with three.js from the pinned npm package.
#
# The Windows builds leave it out on purpose: Debian has cpp-httplib for the
# build machine only (its header needs the compiled library beside it), and the
# studio's tests need a browser and node, which the Windows suite under Wine
# does not have. There the command is kept and says it is not built.
if(WIN32)
  message(STATUS "morvexer studio is left out of the Windows build (no cpp-httplib for MinGW)")
  target_sources(morvexer_cli PRIVATE studio_off.cpp)
  return()
endif()
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
endif()
if(NOT HTTPLIB_FOUND)
  message(FATAL_ERROR "cpp-httplib is missing (Debian's libcpp-httplib-dev; scripts/setup.sh installs it)")
endif()
target_sources(morvexer_cli PRIVATE studio.cpp studio_session.cpp)
target_link_libraries(morvexer_cli PRIVATE PkgConfig::HTTPLIB)

set(studio_web_out ${CMAKE_CURRENT_BINARY_DIR}/web)
target_compile_definitions(morvexer_cli PRIVATE MORVEXER_WEB_DIR="${studio_web_out}")
