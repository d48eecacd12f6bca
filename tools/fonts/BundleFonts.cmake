# The application's own terminal font: the four JetBrains Mono faces from Debian's
# fonts-jetbrains-mono, copied at build time into the resource bundle beside the binaries
# (Vesk_Vesk.bundle/Fonts/). Without the package the bundle stays empty and the application
# draws in the system's monospaced font instead.
set(VESK_JETBRAINS_MONO_DIR "/usr/share/fonts/truetype/jetbrains-mono" CACHE PATH
    "Where the JetBrains Mono font files are installed")
set(VESK_BUNDLE_DIR ${CMAKE_BINARY_DIR}/Vesk_Vesk.bundle)

set(vesk_bundle_fonts)
foreach(style IN ITEMS Regular Bold Italic BoldItalic)
    set(source ${VESK_JETBRAINS_MONO_DIR}/JetBrainsMono-${style}.ttf)
    set(target ${VESK_BUNDLE_DIR}/Fonts/JetBrainsMono-${style}.ttf)
    if(NOT EXISTS ${source})
        message(WARNING "${source} is missing: the bundle gets no JetBrains Mono (install fonts-jetbrains-mono)")
        continue()
    endif()
    add_custom_command(
        OUTPUT ${target}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VESK_BUNDLE_DIR}/Fonts
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${target}
        DEPENDS ${source}
        COMMENT "Bundling JetBrainsMono-${style}.ttf"
        VERBATIM)
    list(APPEND vesk_bundle_fonts ${target})
endforeach()
add_custom_target(vesk_bundle_fonts ALL DEPENDS ${vesk_bundle_fonts})
