# Batched ("unity") compilation of the libraries, for the checking builds (KESTROVAN_UNITY_BUILD).
#
# A batch includes its sources one after the other into one file, so two sources of a batch may not
# define the same name in their anonymous namespaces (nor a helper that makes another's call
# ambiguous, nor pull in a header whose macros break another's, like X11's). The sources below do,
# and are compiled on their own; every other source of a library may share a batch with any other.
# A new clash shows as a redefinition error in the checking stages only: rename the helper or add
# the source here.
set(KESTROVAN_UNITY_BATCH_SIZE 16 CACHE STRING "Sources per batch of a library's batched compilation")

set(kestrovan_unity_alone
    # Kestrovan
    KittyClipboardBase64Decoder KittyClipboardWrite KittyGraphicsControl KittyKeyboardLegacy ProfilingStats
    SixelDcsHandler Terminal TerminalFeed TerminalModes TerminalPaste TerminalScroll TerminalSgr
    # Kestrovan/Apple and Kestrovan/Apple/Metal
    Apple/TerminalBidiText Apple/TerminalFrameDrawer Apple/Metal/MetalDrawDataBuild Apple/Metal/MetalFrameRendering)
list(TRANSFORM kestrovan_unity_alone PREPEND ${CMAKE_SOURCE_DIR}/Kestrovan/)
list(TRANSFORM kestrovan_unity_alone APPEND .cpp)
list(APPEND kestrovan_unity_alone
    ${CMAKE_SOURCE_DIR}/Platform/Regex/UnicodeProperties.cpp
    ${CMAKE_SOURCE_DIR}/Vesk/ShortcutTable.cpp
    # Includes X11's headers, whose macros (CursorShape, None) break the view headers after it.
    ${CMAKE_SOURCE_DIR}/Vesk/StateDump.cpp
    # The build's own generated sources: the revision changes with every commit.
    ${CMAKE_BINARY_DIR}/generated/Kestrovan/KestrovanBuildRevision.cpp
    ${CMAKE_BINARY_DIR}/generated/Kestrovan/KestrovanTerminfoTable.cpp)

# Turns batched compilation on for the library `name` when KESTROVAN_UNITY_BUILD is on.
function(kestrovan_unity_build name)
    if(NOT KESTROVAN_UNITY_BUILD)
        return()
    endif()
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${KESTROVAN_UNITY_BATCH_SIZE})
    set_source_files_properties(${kestrovan_unity_alone} TARGET_DIRECTORY ${name}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endfunction()
