# Packages for a cross build that the build machine has only in its own form:
# the header-only ones (and xxHash, used as a header only) are taken from
# Debian's packages (only their own folders or files, never the machine's
# whole include folder), the others are compiled here.

# CLI11's and nlohmann-json's headers, each through a link of its own.
set(linked ${CMAKE_BINARY_DIR}/machine-headers)
file(MAKE_DIRECTORY ${linked})
foreach(entry IN ITEMS CLI nlohmann)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: scripts/setup.sh installs it")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${linked}/${entry} SYMBOLIC)
endforeach()

# xxHash's one header, in a folder of its own (used header-only, so no MinGW library is needed).
set(xxhash_linked ${CMAKE_BINARY_DIR}/machine-headers-xxhash)
file(MAKE_DIRECTORY ${xxhash_linked})
if(NOT EXISTS /usr/include/xxhash.h)
  message(FATAL_ERROR "/usr/include/xxhash.h is missing: scripts/setup.sh installs libxxhash-dev")
endif()
file(CREATE_LINK /usr/include/xxhash.h ${xxhash_linked}/xxhash.h SYMBOLIC)
set(XXHASH_INCLUDE_DIR ${xxhash_linked} CACHE PATH "the folder of xxhash.h" FORCE)

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${linked})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${linked})

# GoogleTest from the sources Debian ships.
if(MORVEXER_TESTS)
  if(NOT EXISTS /usr/src/googletest/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: scripts/setup.sh installs googletest")
  endif()
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
