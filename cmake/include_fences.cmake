# mic_include_fence(target ROOM name FILES ... [FORBID regex] [ALLOW regex]): the target builds only
# when none of FILES includes a name matching FORBID and, with ALLOW, every name included in quotes
# matches ALLOW. Checked again whenever one of the files changes.
function(mic_include_fence target)
  cmake_parse_arguments(PARSE_ARGV 1 FENCE "" "ROOM;FORBID;ALLOW" "FILES")
  string(REPLACE ";" "|" files "${FENCE_FILES}")
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.include_fence")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" "-DROOM=${FENCE_ROOM}" "-DFILES=${files}" "-DFORBID=${FENCE_FORBID}"
            "-DALLOW=${FENCE_ALLOW}" "-DSTAMP=${stamp}" -P "${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake"
    DEPENDS ${FENCE_FILES} "${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake"
    COMMENT "Checking what ${FENCE_ROOM} includes"
    VERBATIM)
  add_custom_target(${target}_include_fence DEPENDS "${stamp}")
  add_dependencies(${target} ${target}_include_fence)
endfunction()
