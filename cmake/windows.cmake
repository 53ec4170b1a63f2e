# What only the Windows build (MinGW-w64, see cmake/mingw-w64-x86_64.cmake) has, included by the
# top-level CMakeLists.txt before its targets: 64-bit file offsets, the application manifest of
# every program, GoogleTest built from sources for the tests that run under Wine
# (scripts/with-wine), and the zip for Windows users. The targets themselves, and which twin of
# a source each system builds, are the same list for both systems (cmake/sources.cmake).

# 64-bit file offsets: off_t, lseek and ftruncate reach beyond 2 GiB.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# 256-bit registers spilled to the stack (the rate converter's wide-vector code): Windows keeps
# the stack aligned to 16 bytes only, so every aligned vector move is assembled as an unaligned
# one, which is as fast on aligned data. At compile and at link time (link-time optimisation
# assembles there).
add_compile_options(-Wa,-muse-unaligned-vector-move)
add_link_options(-Wa,-muse-unaligned-vector-move)

# Every program carries the application manifest (packaging/windows/quorvelle.manifest): UTF-8
# as the code page of the narrow file functions, so that paths with any letters work; the
# window's own scaling by the screen's dots per inch. (No Common Controls 6: its radio buttons
# move their tab stops by themselves, where the window keeps the tabled styles.)
enable_language(RC)
file(WRITE ${CMAKE_BINARY_DIR}/manifest.rc
    "1 24 \"${CMAKE_SOURCE_DIR}/packaging/windows/quorvelle.manifest\"\n")
set(MANIFEST_RESOURCE ${CMAKE_BINARY_DIR}/manifest.rc)
set_source_files_properties(${MANIFEST_RESOURCE} PROPERTIES
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/windows/quorvelle.manifest)

# The manifest resource in each of the programs named.
function(quorvelle_windows_programs)
    foreach(program ${ARGN})
        target_sources(${program} PRIVATE ${MANIFEST_RESOURCE})
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
endfunction()
