# Writes the source revision of the checkout into a C++ file of the build tree (run with cmake -P).
#
#   cmake -DSOURCE_DIR=<repository> -DOUTPUT=<file.cpp> [-DGIT_EXECUTABLE=<git>] -P WriteBuildRevision.cmake
#
# The revision comes from `git rev-parse HEAD` and the uncommitted-changes flag from
# `git status --porcelain`; without git, or outside a checkout (a source tarball), both are unknown.
# The file is rewritten only when its text changes, so an unchanged revision recompiles nothing.

set(commit_literal "nullptr")
set(uncommitted "-1")

# The revision is only this source tree's: a tarball unpacked inside some other checkout must not
# take that checkout's revision.
set(own_checkout FALSE)
if(GIT_EXECUTABLE)
    execute_process(
        COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
        RESULT_VARIABLE toplevel_result
        OUTPUT_VARIABLE toplevel_output
        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(toplevel_result EQUAL 0)
        file(REAL_PATH "${toplevel_output}" toplevel_real)
        file(REAL_PATH "${SOURCE_DIR}" source_real)
        if(toplevel_real STREQUAL source_real)
            set(own_checkout TRUE)
        endif()
    endif()
endif()

if(own_checkout)
    execute_process(
        COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse HEAD
        RESULT_VARIABLE rev_parse_result
        OUTPUT_VARIABLE rev_parse_output
        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    # Only a plain hexadecimal object name is accepted into the source text.
    if(rev_parse_result EQUAL 0 AND rev_parse_output MATCHES "^[0-9a-f]+$")
        set(commit_literal "\"${rev_parse_output}\"")
        execute_process(
            COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain
            RESULT_VARIABLE status_result
            OUTPUT_VARIABLE status_output
            ERROR_QUIET)
        if(status_result EQUAL 0)
            if(status_output STREQUAL "")
                set(uncommitted "0")
            else()
                set(uncommitted "1")
            endif()
        endif()
    endif()
endif()

set(text "// Written at build time by tools/buildinfo/WriteBuildRevision.cmake from git; do not edit.
#include \"Kestrovan/KestrovanBuildInfo.h\"

namespace kestrovan::detail {

extern const char* const kestrovanBuildCommit = ${commit_literal};
extern const int kestrovanBuildUncommittedChanges = ${uncommitted};

} // namespace kestrovan::detail
")

set(old_text "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old_text)
endif()
if(NOT old_text STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()
