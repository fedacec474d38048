# Resolves the third-party libraries into four targets used by the tree:
# zelto::json, zelto::png, zelto::jpeg, zelto::icu, zelto::httplib (Windows builds only) and
# GoogleTest's GTest::gtest/gmock.
find_package(Threads REQUIRED)

if(ZELTO_MINGW_DEPS)
  # Cross build: libpng, libjpeg-turbo and ICU come from the bootstrap's cache, zlib from
  # Debian's MinGW package; nlohmann-json is header-only and taken from the host.
  find_path(ZELTO_NLOHMANN_INCLUDE nlohmann/json.hpp
    PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  # Only the nlohmann folder may be visible: the host's other headers must not
  # shadow MinGW's.
  set(_json_dir "${CMAKE_BINARY_DIR}/deps-include")
  file(MAKE_DIRECTORY "${_json_dir}")
  file(CREATE_LINK "${ZELTO_NLOHMANN_INCLUDE}/nlohmann" "${_json_dir}/nlohmann" SYMBOLIC)
  add_library(zelto_json INTERFACE)
  target_include_directories(zelto_json SYSTEM INTERFACE "${_json_dir}")

  find_library(ZELTO_ZLIB NAMES libz.a z REQUIRED)
  add_library(zelto_png INTERFACE)
  target_include_directories(zelto_png SYSTEM INTERFACE "${ZELTO_MINGW_DEPS}/include")
  target_link_libraries(zelto_png INTERFACE "${ZELTO_MINGW_DEPS}/lib/libpng.a" "${ZELTO_ZLIB}")

  add_library(zelto_jpeg INTERFACE)
  target_include_directories(zelto_jpeg SYSTEM INTERFACE "${ZELTO_MINGW_DEPS}/include")
  target_link_libraries(zelto_jpeg INTERFACE "${ZELTO_MINGW_DEPS}/lib/libjpeg.a")

  # Header-only: cpp-httplib's single header, from the bootstrap's cache.
  add_library(zelto_httplib INTERFACE)
  target_include_directories(zelto_httplib SYSTEM INTERFACE "${ZELTO_MINGW_DEPS}/include")

  add_library(zelto_icu INTERFACE)
  target_include_directories(zelto_icu SYSTEM INTERFACE "${ZELTO_MINGW_DEPS}/include")
  target_compile_definitions(zelto_icu INTERFACE U_STATIC_IMPLEMENTATION)
  target_link_libraries(zelto_icu INTERFACE
    "${ZELTO_MINGW_DEPS}/lib/libsicuuc.a" "${ZELTO_MINGW_DEPS}/lib/libsicudt.a")
else()
  find_package(nlohmann_json 3 REQUIRED)
  find_package(PNG REQUIRED)
  # Debian's libjpeg62-turbo-dev on the host; vcpkg's libjpeg-turbo on Windows.
  find_package(JPEG REQUIRED)
  find_package(ICU REQUIRED COMPONENTS uc)
  add_library(zelto_json INTERFACE)
  target_link_libraries(zelto_json INTERFACE nlohmann_json::nlohmann_json)
  add_library(zelto_png INTERFACE)
  target_link_libraries(zelto_png INTERFACE PNG::PNG)
  add_library(zelto_jpeg INTERFACE)
  target_link_libraries(zelto_jpeg INTERFACE JPEG::JPEG)
  add_library(zelto_icu INTERFACE)
  target_link_libraries(zelto_icu INTERFACE ICU::uc)
  if(NOT TARGET ICU::data AND TARGET ICU::dt)
    target_link_libraries(zelto_icu INTERFACE ICU::dt)
  endif()
  if(WIN32)
    # vcpkg's cpp-httplib, for the MCP server's HTTP transport built on Windows.
    find_package(httplib CONFIG REQUIRED)
    add_library(zelto_httplib INTERFACE)
    target_link_libraries(zelto_httplib INTERFACE httplib::httplib)
  endif()
endif()
add_library(zelto::json ALIAS zelto_json)
add_library(zelto::png ALIAS zelto_png)
add_library(zelto::jpeg ALIAS zelto_jpeg)
add_library(zelto::icu ALIAS zelto_icu)
if(TARGET zelto_httplib)
  add_library(zelto::httplib ALIAS zelto_httplib)
endif()

if(ZELTO_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Same GoogleTest sources as the host, built with the cross toolchain.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    # GoogleTest 1.11+ defines the GTest:: aliases itself.
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  else()
    find_package(GTest REQUIRED)
    if(NOT TARGET GTest::gmock)
      find_library(ZELTO_GMOCK gmock REQUIRED)
      add_library(GTest::gmock UNKNOWN IMPORTED)
      set_target_properties(GTest::gmock PROPERTIES IMPORTED_LOCATION "${ZELTO_GMOCK}")
    endif()
  endif()
endif()
