# Writes build_info.cpp: the version from the VERSION file and the commit
# the sources were built from. Run at every build (cmake -P) so that the
# commit follows the checkout; the file is rewritten only when it changes,
# so an unchanged checkout rebuilds nothing.
#   -DSOURCE_DIR=... -DOUTPUT=...
file(STRINGS "${SOURCE_DIR}/VERSION" version LIMIT_COUNT 1)
string(STRIP "${version}" version)
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    set(commit "")
  else()
    # Tracked files changed since that commit: say so, the binary is not
    # that commit's.
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" diff --quiet HEAD --
                    RESULT_VARIABLE dirty OUTPUT_QUIET ERROR_QUIET)
    if(dirty EQUAL 1)
      string(APPEND commit "-modified")
    endif()
  endif()
endif()
if(commit STREQUAL "")
  set(commit "unknown (not built from a git checkout)")
endif()
set(text "// Generated at build time by cmake/build_info.cmake; do not edit.
#include \"tools/version/version.h\"

const char* const BuildVersion = \"${version}\";
const char* const BuildCommit = \"${commit}\";
")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
