# The engine's layers, enforced by the build.
#
# From the bottom: `Platform/`, the engine core `Kestrovan/` (with `Kestrovan/Generated/`),
# `Kestrovan/Portable/`, `Kestrovan/Apple/`, then `Kestrovan/Apple/Metal/` and `Kestrovan/Mac/`,
# then `VeskCore/` and `Vesk/`. Two things keep a layer from reaching up:
#
# - Include roots. Each library gets, as its include root, a folder in the build tree holding
#   links to the headers of its own folders only. The root is public, so a target sees the roots
#   of what it links (its own layer and the ones below) and nothing else: an include of a header
#   from a layer above does not resolve. The links are made anew at every configure, and the
#   header globs re-run configure when a header is added or removed.
# - The check (tools/layers/check), which reads every #include of the layered folders, including
#   ones relative to the including file's folder that an include root cannot stop. It runs before
#   any library compiles, so an upward include fails the build, and again as a CTest test.

set(KESTROVAN_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

# Makes `${KESTROVAN_INCLUDE_ROOTS}/<name>` hold links to the headers directly in `dirs` (folders
# relative to the source root, not their subfolders) and to the `extra` headers, at the same
# relative paths; `exclude` headers are left out. The root's path goes to `out`.
function(kestrovan_include_root name out)
    cmake_parse_arguments(ARG "" "" "DIRS;EXTRA;EXCLUDE" ${ARGN})
    set(root ${KESTROVAN_INCLUDE_ROOTS}/${name})
    set(headers ${ARG_EXTRA})
    foreach(dir IN LISTS ARG_DIRS)
        file(GLOB dir_headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${dir}/*.h)
        list(APPEND headers ${dir_headers})
    endforeach()
    if(ARG_EXCLUDE)
        list(REMOVE_ITEM headers ${ARG_EXCLUDE})
    endif()
    # Made afresh, so that a header that was removed or moved to another layer leaves no link.
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(header IN LISTS headers)
        get_filename_component(folder ${root}/${header} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
    endforeach()
    set(${out} ${root} PARENT_SCOPE)
endfunction()

# The check, run once per build whenever a layered file or the check changes. Every library
# depends on it, so nothing compiles past an upward include.
set(KESTROVAN_LAYER_CHECK ${CMAKE_SOURCE_DIR}/tools/layers/check)
set(layered_files)
foreach(top IN ITEMS Platform Kestrovan Vesk VeskCore)
    file(GLOB_RECURSE top_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${top}/*)
    list(APPEND layered_files ${top_files})
endforeach()
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/layer-check.stamp
    COMMAND bash ${KESTROVAN_LAYER_CHECK} ${CMAKE_SOURCE_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/layer-check.stamp
    DEPENDS ${KESTROVAN_LAYER_CHECK} ${layered_files}
    COMMENT "Checking that no source includes a layer above its own"
    VERBATIM)
add_custom_target(kestrovan_layer_check DEPENDS ${CMAKE_BINARY_DIR}/layer-check.stamp)
