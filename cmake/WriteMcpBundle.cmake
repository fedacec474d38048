# CPack post-build script: the MCP Bundle zelto-cua-<version>-win64.mcpb beside
# the zip. It is a zip of the same files without the top folder, plus the
# manifest.json (CPACK_ZELTO_MCPB_MANIFEST, configured from
# cmake/mcpb-manifest.json.in) that tells Claude Desktop how to start the server.
set(staged "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${staged}")
  message(FATAL_ERROR "no staged package files in ${staged}")
endif()
set(bundle_dir "${CPACK_TOPLEVEL_DIRECTORY}/mcpb")
file(REMOVE_RECURSE "${bundle_dir}")
file(COPY "${staged}/" DESTINATION "${bundle_dir}")
file(COPY_FILE "${CPACK_ZELTO_MCPB_MANIFEST}" "${bundle_dir}/manifest.json")
file(GLOB_RECURSE files RELATIVE "${bundle_dir}" "${bundle_dir}/*")
list(SORT files)
set(bundle "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.mcpb")
file(REMOVE "${bundle}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E tar cf "${bundle}" --format=zip -- ${files}
  WORKING_DIRECTORY "${bundle_dir}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${bundle}")
endif()
