# The XTGETTCAP table: a host program built from the key encoder's sources writes the table's C++
# source into the build tree, and the engine compiles it. The table is regenerated whenever the
# data file or the generator (and so the key encoder) changes.
add_executable(kestrovan_terminfo_generator
    ${CMAKE_SOURCE_DIR}/tools/terminfo/GenerateTerminfo.cpp
    ${CMAKE_SOURCE_DIR}/Kestrovan/KittyKeyboardEncoder.cpp
    ${CMAKE_SOURCE_DIR}/Kestrovan/KittyKeyboardLegacy.cpp
    ${CMAKE_SOURCE_DIR}/Kestrovan/EscapeSequences.cpp
    ${CMAKE_SOURCE_DIR}/Kestrovan/Utf8.cpp)
target_include_directories(kestrovan_terminfo_generator PRIVATE ${KESTROVAN_INCLUDE_ROOTS}/kestrovan)

set(KESTROVAN_TERMINFO_TABLE_SOURCE ${CMAKE_BINARY_DIR}/generated/Kestrovan/KestrovanTerminfoTable.cpp)
add_custom_command(
    OUTPUT ${KESTROVAN_TERMINFO_TABLE_SOURCE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/Kestrovan
    COMMAND kestrovan_terminfo_generator ${CMAKE_SOURCE_DIR}/tools/terminfo/capabilities.txt
            ${KESTROVAN_TERMINFO_TABLE_SOURCE}
    DEPENDS kestrovan_terminfo_generator ${CMAKE_SOURCE_DIR}/tools/terminfo/capabilities.txt
    COMMENT "Generating the XTGETTCAP table"
    VERBATIM)
target_sources(kestrovan PRIVATE ${KESTROVAN_TERMINFO_TABLE_SOURCE})
