# The fontconfig configuration of the tests: exactly the font files of the Debian packages the
# tests rely on (tools/setup installs them), so a test gives the same answer on a machine with
# more fonts, such as one whose "monospace" is Noto Sans Mono. Written at configure time from the
# packages' file lists; every test binary points FONTCONFIG_FILE at it before it starts
# (TestFontconfig.cpp).
set(KESTROVAN_TEST_FONT_PACKAGES fonts-jetbrains-mono fonts-dejavu-core fonts-noto-cjk fonts-noto-color-emoji
    fonts-noto-core)
set(KESTROVAN_TEST_FONTCONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/fontconfig/fonts.conf)

set(test_font_files)
foreach(package IN LISTS KESTROVAN_TEST_FONT_PACKAGES)
    execute_process(COMMAND dpkg-query -L ${package} OUTPUT_VARIABLE listing ERROR_QUIET RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(WARNING "${package} is not installed: the tests that need its fonts fail (run tools/setup)")
        continue()
    endif()
    # Reinstalling or upgrading a package configures again.
    if(EXISTS /var/lib/dpkg/info/${package}.list)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS /var/lib/dpkg/info/${package}.list)
    endif()
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        if(line MATCHES "^/usr/share/fonts/.*\\.(ttf|otf|ttc|otc)$" AND EXISTS ${line})
            list(APPEND test_font_files ${line})
        endif()
    endforeach()
endforeach()
list(SORT test_font_files)

set(test_font_dirs)
foreach(file IN LISTS test_font_files)
    get_filename_component(dir ${file} DIRECTORY)
    list(APPEND test_font_dirs ${dir})
endforeach()
list(REMOVE_DUPLICATES test_font_dirs)

set(TEST_FONT_DIRS)
foreach(dir IN LISTS test_font_dirs)
    string(APPEND TEST_FONT_DIRS "  <dir>${dir}</dir>\n")
endforeach()
set(TEST_FONT_FILES)
foreach(file IN LISTS test_font_files)
    # A glob matches a whole path; these paths hold no glob or markup characters (Debian's font
    # file names are plain), and one that did would only fail to match.
    string(APPEND TEST_FONT_FILES "      <glob>${file}</glob>\n")
endforeach()
set(TEST_FONT_CACHE_DIR ${CMAKE_CURRENT_BINARY_DIR}/fontconfig/cache)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fonts.conf.in ${KESTROVAN_TEST_FONTCONFIG_FILE} @ONLY)
