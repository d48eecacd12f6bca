# The build-information record's revision, written into the build tree on every build.
#
# A custom target runs on every build because HEAD and the working tree can change without
# CMake knowing; the script rewrites its output only when the text changes, and Ninja then
# rebuilds only what depends on a changed file.
find_package(Git QUIET)

set(KESTROVAN_BUILD_REVISION_SOURCE ${CMAKE_BINARY_DIR}/generated/Kestrovan/KestrovanBuildRevision.cpp)
add_custom_target(kestrovan_build_revision
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${KESTROVAN_BUILD_REVISION_SOURCE}
            -DGIT_EXECUTABLE=${GIT_EXECUTABLE} -P ${CMAKE_SOURCE_DIR}/tools/buildinfo/WriteBuildRevision.cmake
    BYPRODUCTS ${KESTROVAN_BUILD_REVISION_SOURCE}
    COMMENT "Reading the source revision"
    VERBATIM)
target_sources(kestrovan PRIVATE ${KESTROVAN_BUILD_REVISION_SOURCE})
add_dependencies(kestrovan kestrovan_build_revision)
