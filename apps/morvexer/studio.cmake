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

set(studio_web_src ${PROJECT_SOURCE_DIR}/web)
file(GLOB studio_page CONFIGURE_DEPENDS ${studio_web_src}/*.html ${studio_web_src}/*.js ${studio_web_src}/*.css)
set(studio_outputs)
foreach(file IN LISTS studio_page)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${studio_web_out}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${studio_web_out}/${name}
    DEPENDS ${file} VERBATIM)
  list(APPEND studio_outputs ${studio_web_out}/${name})
endforeach()

# Watched, so the build configures again once the setup has installed it.
file(GLOB three_manifest CONFIGURE_DEPENDS ${studio_web_src}/node_modules/three/package.json)
if(three_manifest)
  set(three ${studio_web_src}/node_modules/three)
  set(three_files ${three}/build/three.module.js ${three}/build/three.core.js
    ${three}/examples/jsm/controls/OrbitControls.js ${three}/examples/jsm/controls/TransformControls.js ${three}/LICENSE)
  add_custom_command(OUTPUT ${studio_web_out}/vendor/three.module.js
    COMMAND ${CMAKE_COMMAND} -DTHREE=${three} -DOUT=${studio_web_out}/vendor -P ${CMAKE_CURRENT_SOURCE_DIR}/studio_vendor.cmake
    DEPENDS ${three_files} ${three_manifest} ${CMAKE_CURRENT_SOURCE_DIR}/studio_vendor.cmake VERBATIM)
  list(APPEND studio_outputs ${studio_web_out}/vendor/three.module.js)
else()
  message(WARNING "web/node_modules/three is missing: the studio's page is built without three.js and `morvexer studio` "
                  "will refuse to start; run scripts/setup-web.sh")
endif()
add_custom_target(morvexer_web ALL DEPENDS ${studio_outputs})
add_dependencies(morvexer_tool morvexer_web)
