# What each shipped Windows program gets (tessara-updater.exe, tessara-pack.exe):
#   tessara_windows_program(TARGET DESCRIPTION "..." ICON file.ico MANIFEST name.manifest.in)
# - resources: the icon, the application manifest and version information with the project's
#   version (resources/windows/program.rc.in);
# - its debug data split off: the program is linked with it and then stripped of it and of its
#   symbol table, which go to <program>.debug beside it (gdb and addr2line find that file through
#   the program's debug link), so the shipped updater is about a fifteenth of the linked one while a
#   crash address can still be read.

set(TESSARA_PRODUCT_NAME "Оновлення ПК Тессара")
set(TESSARA_VERSION4 "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
# windres reads the resource scripts' texts as UTF-8.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

function(tessara_windows_program target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DESCRIPTION;ICON;MANIFEST" "")
    set(resources ${PROJECT_SOURCE_DIR}/resources/windows)
    set(TESSARA_RC_NAME ${target})
    set(TESSARA_RC_DESCRIPTION ${ARG_DESCRIPTION})
    set(TESSARA_RC_ICON ${resources}/${ARG_ICON})
    set(TESSARA_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${resources}/${ARG_MANIFEST} ${TESSARA_RC_MANIFEST} @ONLY)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${resources}/program.rc.in ${script} @ONLY)
    # The files the script names are no #include: windres must run again when they change.
    set_source_files_properties(${script} PROPERTIES
        OBJECT_DEPENDS "${TESSARA_RC_ICON};${TESSARA_RC_MANIFEST}")
    target_sources(${target} PRIVATE ${script})

    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}>
                $<TARGET_FILE:${target}>.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
