# What only the Windows build (MinGW-w64, see cmake/mingw-w64-x86_64.cmake) has, included by the
# top-level CMakeLists.txt before its targets: 64-bit file offsets, the application manifest of
# every program, GoogleTest built from sources for the tests that run under Wine
# (scripts/with-wine), and the zip and the installer for Windows users. The targets themselves, and which twin of
# a source each system builds, are the same list for both systems (cmake/sources.cmake).

# 64-bit file offsets: off_t, lseek and ftruncate reach beyond 2 GiB.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# 256-bit registers spilled to the stack (the rate converter's wide-vector code): Windows keeps
# the stack aligned to 16 bytes only, so every aligned vector move is assembled as an unaligned
# one, which is as fast on aligned data. At compile and at link time (link-time optimisation
# assembles there).
add_compile_options(-Wa,-muse-unaligned-vector-move)
add_link_options(-Wa,-muse-unaligned-vector-move)

# Every program carries the application manifest (packaging/windows/quorvelle.manifest.in):
# UTF-8 as the code page of the narrow file functions, so that paths with any letters work; the
# window's own scaling by each screen's dots per inch. (No Common Controls 6: its radio buttons
# move their tab stops by themselves, where the window keeps the tabled styles.) Beside it the
# icon Explorer shows for the .exe and the version information of its Properties
# (packaging/windows/program.rc.in), every version there the project's: 0.9.0 is 0.9.0.0.
enable_language(RC)
set(QUORVELLE_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
string(REPLACE . , QUORVELLE_FILE_VERSION_COMMAS ${QUORVELLE_FILE_VERSION})
set(QUORVELLE_MANIFEST ${CMAKE_BINARY_DIR}/quorvelle.manifest)
configure_file(packaging/windows/quorvelle.manifest.in ${QUORVELLE_MANIFEST} @ONLY)

# The icon: the installed PNGs (48 and 256 pixels, packaging/icons) in one .ico, made by
# icotool (Debian's icoutils, from scripts/install-deps): the small one as a bitmap for every
# Windows version, the large one as the PNG it is.
find_program(QUORVELLE_ICOTOOL icotool)
if(NOT QUORVELLE_ICOTOOL)
    message(FATAL_ERROR "icotool not found: the programs' icon needs it "
        "(scripts/install-deps installs icoutils)")
endif()
set(QUORVELLE_ICON ${CMAKE_BINARY_DIR}/quorvelle.ico)
add_custom_command(OUTPUT ${QUORVELLE_ICON}
    COMMAND ${QUORVELLE_ICOTOOL} --create --output=${QUORVELLE_ICON}
        ${CMAKE_SOURCE_DIR}/packaging/icons/quorvelle-48.png
        --raw=${CMAKE_SOURCE_DIR}/packaging/icons/quorvelle-256.png
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/icons/quorvelle-48.png
        ${CMAKE_SOURCE_DIR}/packaging/icons/quorvelle-256.png
    COMMENT "Windows icon quorvelle.ico" VERBATIM)
add_custom_target(quorvelle_icon DEPENDS ${QUORVELLE_ICON})

# What Explorer and Task Manager call each program.
set(QUORVELLE_DESCRIPTION_quorvelle "GPS QuorVelle")
set(QUORVELLE_DESCRIPTION_quorvelle-batch "GPS QuorVelle measurement of a recording or live input")
set(QUORVELLE_DESCRIPTION_quorvelle-sim "GPS QuorVelle simulated recording")
set(QUORVELLE_DESCRIPTION_quorvelle-report "GPS QuorVelle picture and Allan deviation of a run")

# The resources of each of the programs named.
function(quorvelle_windows_programs)
    foreach(program ${ARGN})
        set(QUORVELLE_PROGRAM ${program})
        set(QUORVELLE_DESCRIPTION ${QUORVELLE_DESCRIPTION_${program}})
        if(NOT QUORVELLE_DESCRIPTION)
            message(FATAL_ERROR "No description of ${program} in cmake/windows.cmake")
        endif()
        set(resources ${CMAKE_BINARY_DIR}/${program}.rc)
        configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.rc.in ${resources} @ONLY)
        set_source_files_properties(${resources} PROPERTIES
            OBJECT_DEPENDS "${QUORVELLE_MANIFEST};${QUORVELLE_ICON}")
        target_sources(${program} PRIVATE ${resources})
        add_dependencies(${program} quorvelle_icon)
    endforeach()
endfunction()

# ---------------------------------------------------------------------------------------------
# GoogleTest from Debian's sources, built with this compiler; its own warnings are not ours.
if(BUILD_TESTING)
    set(QUORVELLE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
        "GoogleTest sources built for the Windows tests (Debian's googletest package)")
    set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)  # its old CMake minimum: no warning about the setting below
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUORVELLE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Compiled without link-time optimisation, which would repeat its warnings at the link.
    set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS -w
        INTERPROCEDURAL_OPTIMIZATION OFF)
endif()

# ---------------------------------------------------------------------------------------------
# The zip for Windows users (make windows-package): the programs named (the window and the three
# tools) and a short README with Windows line ends, in
# build-windows/quorvelle-VERSION-windows-x86_64.zip.
function(quorvelle_windows_package)
    set(programs ${ARGN})
    if(NOT TARGET quorvelle)
        return()
    endif()
    set(packageName quorvelle-${PROJECT_VERSION}-windows-x86_64)
    set(packageDir ${CMAKE_BINARY_DIR}/${packageName})
    set(VERSION ${PROJECT_VERSION})
    configure_file(packaging/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY
        NEWLINE_STYLE CRLF)
    set(files)
    set(stripped)
    foreach(program ${programs})
        list(APPEND files $<TARGET_FILE:${program}>)
        list(APPEND stripped ${packageDir}/${program}.exe)
    endforeach()
    add_custom_target(windows_package
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${packageDir}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${packageDir}
        COMMAND ${CMAKE_COMMAND} -E copy ${files} ${CMAKE_BINARY_DIR}/README.txt ${packageDir}
        COMMAND ${CMAKE_STRIP} ${stripped}
        COMMAND ${CMAKE_COMMAND} -E tar cf ${packageName}.zip --format=zip ${packageName}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        DEPENDS ${programs}
        COMMENT "Windows zip ${packageName}.zip" VERBATIM)

    # The installer (make windows-installer): the zip's files in
    # build-windows/GPS-QuorVelle-VERSION-setup.exe, made by makensis (Debian's nsis) from
    # packaging/windows/quorvelle.nsi, with the programs' icon as its own.
    set(installer ${CMAKE_BINARY_DIR}/GPS-QuorVelle-${PROJECT_VERSION}-setup.exe)
    set(script ${CMAKE_SOURCE_DIR}/packaging/windows/quorvelle.nsi)
    find_program(QUORVELLE_MAKENSIS makensis)
    if(QUORVELLE_MAKENSIS)
        set(sources)
        foreach(program ${programs})
            list(APPEND sources $<TARGET_FILE:${program}>)
        endforeach()
        add_custom_command(OUTPUT ${installer}
            COMMAND ${QUORVELLE_MAKENSIS} -V2 -NOCD -DVERSION=${PROJECT_VERSION}
                -DFILES=${packageDir} -DICON=${QUORVELLE_ICON} -DOUTFILE=${installer} ${script}
            DEPENDS ${script} ${sources} ${CMAKE_BINARY_DIR}/README.txt ${QUORVELLE_ICON}
            COMMENT "Windows installer GPS-QuorVelle-${PROJECT_VERSION}-setup.exe" VERBATIM)
        add_custom_target(windows_installer DEPENDS ${installer})
    else()
        add_custom_target(windows_installer
            COMMAND ${CMAKE_COMMAND} -E echo
                "makensis not found: the installer needs it (scripts/install-deps installs nsis)"
            COMMAND ${CMAKE_COMMAND} -E false VERBATIM)
    endif()
    # The zip's stripped programs are the installer's.
    add_dependencies(windows_installer windows_package quorvelle_icon)
endfunction()
