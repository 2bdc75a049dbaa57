# Run by the build (cmake -P): fails when a file of a room includes what that room must not see.
#   FILES    the room's files, separated by '|'
#   FORBID   when set, a regular expression no included name may match
#   ALLOW    when set, a regular expression every name included with quotes must match
#   STAMP    touched when every file passes
# The compiler alone would not catch all of it: headers such as <sphinxbase/err.h> sit on the
# default include path, and a header-only include needs no link.
string(REPLACE "|" ";" files "${FILES}")
set(problems "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)")
      continue()
    endif()
    set(quote "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    if((FORBID AND name MATCHES "${FORBID}") OR (ALLOW AND quote STREQUAL "\"" AND NOT name MATCHES "${ALLOW}"))
      string(APPEND problems "\n  ${file}: includes ${name}")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "${ROOM} must not include these:${problems}")
endif()
file(TOUCH "${STAMP}")
