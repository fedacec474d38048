# CPack post-build script: SHA256SUMS beside the packages, in `sha256sum` format
# ("<hex digest>  <file name>"), so `sha256sum -c SHA256SUMS` checks a download.
# The packages are still in CPack's staging folder here; CPack copies them to
# CPACK_PACKAGE_DIRECTORY unchanged afterwards.
set(sums "")
# The MCP Bundle is written straight into CPACK_PACKAGE_DIRECTORY (WriteMcpBundle.cmake).
set(packages ${CPACK_PACKAGE_FILES}
  "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.mcpb")
foreach(package IN LISTS packages)
  file(SHA256 "${package}" digest)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${digest}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
