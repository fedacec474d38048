# The release archive: `cmake --build <build> --target package` writes
# zelto-cua-<version>-win64.zip (one top folder of that name holding the two
# executables, the README, the licences and the protocol schemas), the MCP
# Bundle zelto-cua-<version>-win64.mcpb (the same files and a manifest.json) and
# a SHA256SUMS file beside them. Tests and their helper programs are not installed.
install(TARGETS zelto-cua zelto-cua-mcp RUNTIME DESTINATION .)
install(FILES README.md LICENSE THIRD-PARTY-NOTICES.txt DESTINATION .)
install(DIRECTORY docs/protocol DESTINATION docs)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zelto-cua)
set(CPACK_PACKAGE_VENDOR "the zelto-cua authors")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "zelto-cua-${PROJECT_VERSION}-win64")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
configure_file(cmake/mcpb-manifest.json.in mcpb/manifest.json @ONLY)
set(CPACK_ZELTO_MCPB_MANIFEST "${PROJECT_BINARY_DIR}/mcpb/manifest.json")
set(CPACK_POST_BUILD_SCRIPTS
  "${PROJECT_SOURCE_DIR}/cmake/WriteMcpBundle.cmake"
  "${PROJECT_SOURCE_DIR}/cmake/WriteSha256Sums.cmake")
include(CPack)
