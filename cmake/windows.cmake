# The Windows build (MinGW-w64, see cmake/mingw-w64-x86_64.cmake), included by the top-level
# CMakeLists.txt in place of the Linux targets. The same layers as on Linux; where a Linux source
# uses a Linux-only library or system call, its Windows twin (NAME_win32.cpp, or text_gdi.cpp)
# beside it is built instead. Its tests run under Wine (scripts/with-wine).

# 64-bit file offsets: off_t, lseek and ftruncate reach beyond 2 GiB.
add_compile_definitions(_FILE_OFFSET_BITS=64)

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

# ---------------------------------------------------------------------------------------------
# The core: signal chain, raster, label text through GDI, files and the signal simulator.
# Files' Windows twins: WAV through mmio (our own code for RF64 and header rewrites), PNG through
# the Windows Imaging Component, output checks by volume and file index. Left out: the Linux
# twins files/wav_file.cpp (libsndfile), files/png_file.cpp (libpng) and
# files/output_check.cpp (FIFOs, character devices, lstat).
file(GLOB CORE_SOURCES CONFIGURE_DEPENDS common/*.cpp dsp/*.cpp chain/*.cpp)
list(APPEND CORE_SOURCES
    display/display.cpp display/raster.cpp display/text_gdi.cpp display/traces.cpp
    files/capture_bitmap.cpp files/csv_file.cpp files/iq_file.cpp files/output_check_win32.cpp
    files/png_file_win32.cpp files/wav_file_win32.cpp files/wav_format.cpp files/whole_file.cpp
    capture/signal_simulator.cpp capture/signal_simulator_card.cpp)
add_library(quorvelle_core STATIC ${CORE_SOURCES})
target_include_directories(quorvelle_core PUBLIC ${CMAKE_SOURCE_DIR})
# gdi32: label text; winmm: WAV chunks (mmio); windowscodecs, ole32: PNG (WIC).
target_link_libraries(quorvelle_core PUBLIC gdi32 winmm windowscodecs ole32)

# ---------------------------------------------------------------------------------------------
# Sound input (waveIn), the live chain and stop signals: quorvelle_capture. Every capture/ source
# but the simulator (in the core) and the Linux twins of the waveIn sound system and the console
# stop events. COM (ole32) gives the devices' full names.
find_package(Threads REQUIRED)
file(GLOB CAPTURE_SOURCES CONFIGURE_DEPENDS capture/*.cpp)
list(FILTER CAPTURE_SOURCES EXCLUDE REGEX ".*/(signal_simulator(_card)?|sound_system|stop_signals)\\.cpp$")
add_library(quorvelle_capture STATIC ${CAPTURE_SOURCES})
target_link_libraries(quorvelle_capture PUBLIC quorvelle_core Threads::Threads
    PRIVATE winmm ole32)

# ---------------------------------------------------------------------------------------------
# Command-line tools: quorvelle-batch.exe, quorvelle-sim.exe and quorvelle-report.exe, their logic
# in a library as on Linux, so that the tests drive it in-process.
file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS tools/*.cpp)
list(FILTER TOOL_SOURCES EXCLUDE REGEX ".*(_main|/terminal)\\.cpp$")
add_library(quorvelle_tools STATIC ${TOOL_SOURCES})
target_link_libraries(quorvelle_tools PUBLIC quorvelle_core quorvelle_capture)
add_executable(quorvelle-batch tools/batch_main.cpp ${MANIFEST_RESOURCE})
target_link_libraries(quorvelle-batch PRIVATE quorvelle_tools)
add_executable(quorvelle-sim tools/sim_main.cpp ${MANIFEST_RESOURCE})
target_link_libraries(quorvelle-sim PRIVATE quorvelle_tools)
add_executable(quorvelle-report tools/report_main.cpp ${MANIFEST_RESOURCE})
target_link_libraries(quorvelle-report PRIVATE quorvelle_tools)

# ---------------------------------------------------------------------------------------------
# The window: quorvelle.exe, the handler library with its Win32 layer.
# The handler library: the portable handler, with the Windows twins of the I/Q journal's lock
# (LockFileEx, file indices) and of the recording mixer (Windows' recording devices), and the
# text conversions they and the window share.
add_library(quorvelle_app STATIC
    app/app_options.cpp app/controls.cpp app/iq_journal.cpp app/journal_lock_win32.cpp
    app/main_handler.cpp app/recording_mixer_win32.cpp app/wide_text_win32.cpp
    app/window_icon.cpp app/window_start.cpp)
target_link_libraries(quorvelle_app PUBLIC quorvelle_core quorvelle_capture)
# A console program (no -mwindows): Ctrl-C in the console it was started from ends it cleanly,
# and stdout and stderr work as on Linux. Started from Explorer it opens a console beside it.
add_executable(quorvelle
    app/window_win32.cpp app/control_font_win32.cpp app/quorvelle_main_win32.cpp
    ${MANIFEST_RESOURCE})
target_link_libraries(quorvelle PRIVATE quorvelle_app comctl32 comdlg32 gdi32 user32)

# ---------------------------------------------------------------------------------------------
# GoogleTest from Debian's sources, built with this compiler; its own warnings are not ours.
set(QUORVELLE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources built for the Windows tests (Debian's googletest package)")
set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)  # its old CMake minimum: no warning about the setting below
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUORVELLE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Compiled without link-time optimisation, which would repeat its warnings at the link.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS -w
    INTERPROCEDURAL_OPTIMIZATION OFF)

enable_testing()
include(GoogleTest)
set(gtestSkipped "\\[  SKIPPED \\]")

# The unit tests of the core's parts, files included. The others need the label font, or the
# capture, tool and window libraries.
set(WINDOWS_TEST_SOURCES
    tests/numbers_test.cpp tests/trig_test.cpp tests/raster_test.cpp
    tests/dsp_blocks_test.cpp tests/front_end_test.cpp tests/integration_test.cpp
    tests/iq_file_test.cpp tests/parameters_test.cpp tests/scenario/signal_status_test.cpp
    tests/chain_drawing_test.cpp tests/panels_test.cpp tests/text_test.cpp
    tests/capture_bitmap_test.cpp tests/output_check_test.cpp tests/wav_file_test.cpp
    tests/allan_deviation_test.cpp)
add_executable(quorvelle_windows_tests ${WINDOWS_TEST_SOURCES})
target_link_libraries(quorvelle_windows_tests PRIVATE quorvelle_core gtest_main)
# Discovery runs the executable, under Wine here: at test time, so that building needs no Wine.
gtest_discover_tests(quorvelle_windows_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS windows TIMEOUT 300 SKIP_REGULAR_EXPRESSION "${gtestSkipped}")

# The window's unit tests: the I/Q journal's lock (its Windows twin).
add_executable(quorvelle_windows_app_tests tests/iq_journal_test.cpp)
target_link_libraries(quorvelle_windows_app_tests PRIVATE quorvelle_app gtest_main)
gtest_discover_tests(quorvelle_windows_app_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS windows TIMEOUT 300 SKIP_REGULAR_EXPRESSION "${gtestSkipped}")

# ---------------------------------------------------------------------------------------------
# The zip for Windows users (make windows-package): the three programs and a short README with
# Windows line ends, in build-windows/quorvelle-VERSION-windows-x86_64.zip.
if(TARGET quorvelle AND TARGET quorvelle-batch AND TARGET quorvelle-sim AND TARGET quorvelle-report)
    set(packageName quorvelle-${PROJECT_VERSION}-windows-x86_64)
    set(packageDir ${CMAKE_BINARY_DIR}/${packageName})
    set(VERSION ${PROJECT_VERSION})
    configure_file(packaging/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY
        NEWLINE_STYLE CRLF)
    add_custom_target(windows_package
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${packageDir}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${packageDir}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvelle> $<TARGET_FILE:quorvelle-batch>
            $<TARGET_FILE:quorvelle-sim> $<TARGET_FILE:quorvelle-report>
            ${CMAKE_BINARY_DIR}/README.txt ${packageDir}
        COMMAND ${CMAKE_STRIP} ${packageDir}/quorvelle.exe ${packageDir}/quorvelle-batch.exe
            ${packageDir}/quorvelle-sim.exe ${packageDir}/quorvelle-report.exe
        COMMAND ${CMAKE_COMMAND} -E tar cf ${packageName}.zip --format=zip ${packageName}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        DEPENDS quorvelle quorvelle-batch quorvelle-sim quorvelle-report
        COMMENT "Windows zip ${packageName}.zip" VERBATIM)
endif()

# ---------------------------------------------------------------------------------------------
# The tests of the capture layer and the command-line tools, in-process under Wine: the shared
# ones that need no Linux-only call, and the Windows-only ones in tests/windows/.
file(GLOB TOOL_WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS tests/windows/*_test.cpp)
list(APPEND TOOL_WINDOWS_TEST_SOURCES
    tests/batch_test.cpp tests/batch_capture_test.cpp tests/batch_summary_test.cpp
    tests/sim_tool_test.cpp tests/golden_test.cpp tests/capture_engine_test.cpp
    tests/block_sources_test.cpp tests/device_list_test.cpp tests/readout_log_test.cpp
    tests/recorder_test.cpp tests/signal_simulator_test.cpp tests/scenario_test.cpp
    tests/live_chain_test.cpp tests/csv_output_test.cpp tests/report_test.cpp
    tests/scenario/batch_test.cpp tests/scenario/signal_simulator_test.cpp
    tests/scenario/chain_test.cpp tests/scenario/csv_output_test.cpp
    tests/scenario/report_test.cpp)
add_executable(quorvelle_windows_tool_tests ${TOOL_WINDOWS_TEST_SOURCES})
target_link_libraries(quorvelle_windows_tool_tests PRIVATE quorvelle_tools gtest_main)
# _USE_MATH_DEFINES: M_PI, which glibc gives without asking.
target_compile_definitions(quorvelle_windows_tool_tests PRIVATE
    QUORVELLE_GOLDEN_DIR="${QUORVELLE_GOLDEN_DIR}" _USE_MATH_DEFINES)
gtest_discover_tests(quorvelle_windows_tool_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS windows TIMEOUT 300 SKIP_REGULAR_EXPRESSION "${gtestSkipped}")
