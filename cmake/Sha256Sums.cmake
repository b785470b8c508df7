# Run by cmake --install and by cpack after the release's files are in place: writes
# SHA256SUMS beside them, one "<sha256>  <file>" line per file of IH_RELEASE_FILES, the
# form sha256sum -c reads.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(sums "")
foreach(file IN LISTS IH_RELEASE_FILES)
  if(NOT EXISTS "${root}/${file}")
    message(FATAL_ERROR "SHA256SUMS: ${root}/${file} was not installed")
  endif()
  file(SHA256 "${root}/${file}" sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
message(STATUS "Written: ${root}/SHA256SUMS")
