# The Windows build's release parts: a version resource from the project's one version number
# (project(... VERSION ...)), and links that give the same bytes on every build of a commit.

enable_language(RC)

# No time stamp in the PE header. (The source folder's path is left alone: the test helpers that
# quorv-host.exe links find the example files by it, so the host is the same bytes only when built
# at the same path; quorv.dll records no path.)
add_link_options(-Wl,--no-insert-timestamp)

# The version the scripts read (scripts/release names the ZIP with it).
file(WRITE ${CMAKE_BINARY_DIR}/quorv-version.txt "${PROJECT_VERSION}\n")

# quorv_version_resource(TARGET DESCRIPTION): a VERSIONINFO resource for TARGET's file.
function(quorv_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QUORV_RC_FILETYPE VFT_APP)
    set(QUORV_RC_FILENAME ${target}.exe)
  else()
    set(QUORV_RC_FILETYPE VFT_DLL)
    set(QUORV_RC_FILENAME ${target}.dll)
  endif()
  set(QUORV_RC_NAME ${target})
  set(QUORV_RC_DESCRIPTION "${description}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  target_compile_definitions(${target} PRIVATE QUORV_VERSION="${PROJECT_VERSION}")
endfunction()
