# Writes the version source: the release number and the commit the build was made from. Runs at
# every build; the file changes (and one object is compiled again) only when the commit does.
# Inputs: SOURCE_DIR, OUTPUT, VERSION.
set(commit "unknown")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12 --exclude=*
                  OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND described)
    set(commit "${described}")
  endif()
endif()
set(text "// Made by cmake/Version.cmake at build time.\n#include \"core/Version.h\"\n\nconst char* programVersion() { return \"${VERSION} (commit ${commit})\"; }\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
