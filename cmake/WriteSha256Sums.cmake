# CPack post-build script: SHA256SUMS beside the packages, in `sha256sum` format
# ("<hex digest>  <file name>"), so `sha256sum -c SHA256SUMS` checks a download.
# The packages are still in CPack's staging folder here; CPack copies them to
# CPACK_PACKAGE_DIRECTORY unchanged afterwards.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" digest)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${digest}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
