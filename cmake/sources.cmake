# Every source file of the programs, their libraries and their tests, each named once: the target
# it is built into, the system it belongs to, the file. Both builds (Linux, and Windows through
# MinGW-w64) read this list; CMakeLists.txt declares each target once, from the files of the
# system it builds.
#
#   all      portable: built on Linux and on Windows
#   linux    Linux only: it wraps a Linux library (libsndfile, FreeType, libpng, PortAudio,
#            FLTK) or POSIX calls; the file is named for what it wraps
#   windows  Windows only: it wraps a Windows API (mmio, GDI, WIC, waveIn, Win32)
#
# Adding a source file is adding its line here (a file under the code's folders that is in no
# line stops the configuration). A test runs on both systems unless its line says linux, with
# the reason beside it.
#
# quorvelle_read_sources(), at the end, gives each target its files as <target>_SOURCES.

set(QUORVELLE_SOURCE_TABLE
    # The core: signal chain, raster, label text, files and the signal simulator.
    quorvelle_core all common/command_line.cpp
    quorvelle_core all common/numbers.cpp
    quorvelle_core all common/os_descriptors.cpp
    quorvelle_core linux common/os_posix.cpp
    quorvelle_core windows common/os_win32.cpp
    quorvelle_core all common/time_of_day.cpp
    quorvelle_core all common/trig.cpp
    quorvelle_core windows common/wide_text_win32.cpp
    quorvelle_core all dsp/allan_deviation.cpp
    quorvelle_core all dsp/click_lock.cpp
    quorvelle_core all dsp/front_end.cpp
    quorvelle_core all dsp/integration.cpp
    quorvelle_core all dsp/pps_shape.cpp
    quorvelle_core all dsp/pps_timing.cpp
    quorvelle_core all dsp/rate_converter.cpp
    quorvelle_core all chain/measurement.cpp
    quorvelle_core all chain/process_frame.cpp
    quorvelle_core all chain/readouts.cpp
    quorvelle_core all chain/run_answer.cpp
    quorvelle_core all chain/signal_status.cpp
    quorvelle_core all display/display.cpp
    quorvelle_core all display/raster.cpp
    quorvelle_core linux display/text_freetype.cpp
    quorvelle_core windows display/text_gdi.cpp
    quorvelle_core all display/traces.cpp
    quorvelle_core all files/capture_bitmap.cpp
    quorvelle_core all files/csv_file.cpp
    quorvelle_core all files/held_rows.cpp
    quorvelle_core all files/iq_file.cpp
    quorvelle_core all files/output_check.cpp
    quorvelle_core linux files/png_file_libpng.cpp
    quorvelle_core windows files/png_file_wic.cpp
    quorvelle_core all files/wav_file.cpp
    quorvelle_core linux files/wav_file_sndfile.cpp
    quorvelle_core windows files/wav_file_mmio.cpp
    quorvelle_core all files/wav_format.cpp
    quorvelle_core all files/wav_riff.cpp
    quorvelle_core all files/whole_file.cpp
    quorvelle_core all capture/signal_simulator.cpp
    quorvelle_core all capture/signal_simulator_card.cpp

    # Sound input (device list, capture engine, recorder, the sound system) and the live chain
    # the window and the batch tool share (block consumer, read-out log, stop signals).
    quorvelle_capture all capture/audio_thread.cpp
    quorvelle_capture all capture/block_sources.cpp
    quorvelle_capture all capture/capture_engine.cpp
    quorvelle_capture all capture/csv_output.cpp
    quorvelle_capture all capture/day_folders.cpp
    quorvelle_capture all capture/device_list.cpp
    quorvelle_capture all capture/live_chain.cpp
    quorvelle_capture linux capture/pulse_sources.cpp
    quorvelle_capture all capture/readout_log.cpp
    quorvelle_capture all capture/recorder.cpp
    quorvelle_capture all capture/reopening_source.cpp
    quorvelle_capture all capture/selected_source.cpp
    quorvelle_capture all capture/simulator_options.cpp
    quorvelle_capture linux capture/sound_system_portaudio.cpp
    quorvelle_capture windows capture/sound_system_wavein.cpp
    quorvelle_capture all capture/stop_signals.cpp

    # A run's report from its CSV files (reading, numbers, text, picture): quorvelle-report's,
    # the daily reports' and the status pages' of the batch tool and the window.
    quorvelle_report all report/report_data.cpp
    quorvelle_report all report/report_plot.cpp
    quorvelle_report all report/report_run.cpp
    quorvelle_report all report/day_report.cpp

    # The command-line tools' logic, in a library that the tests drive in-process, and their
    # programs.
    quorvelle_tools all tools/batch.cpp
    quorvelle_tools all tools/batch_capture.cpp
    quorvelle_tools all tools/batch_daily.cpp
    quorvelle_tools all tools/batch_files.cpp
    quorvelle_tools all tools/batch_run.cpp
    quorvelle_tools all tools/read_ahead.cpp
    quorvelle_tools all tools/report.cpp
    quorvelle_tools all tools/sim_tool.cpp
    # The status page: its snapshots and routes, in a library of their own that the batch tool
    # and the window share, and its HTTP server (libmicrohttpd; on Windows the system's http.sys),
    # linked into those two programs alone.
    quorvelle_status all serve/status_pages.cpp
    quorvelle_status all serve/status_snapshot.cpp
    quorvelle_serve linux serve/status_server.cpp
    quorvelle_serve windows serve/status_server_win.cpp
    quorvelle-batch all tools/batch_main.cpp
    quorvelle-sim all tools/sim_main.cpp
    quorvelle-report all tools/report_main.cpp

    # The window: the portable handler library the tests drive without a display, the toolkit
    # layer (FLTK on Linux, Win32 on Windows) and the program.
    quorvelle_app all app/app_options.cpp
    quorvelle_app all app/controls.cpp
    quorvelle_app all app/iq_journal.cpp
    quorvelle_app all app/journal_lock.cpp
    quorvelle_app all app/main_handler.cpp
    quorvelle_app all app/measurements_folder.cpp
    quorvelle_app all app/recording_mixer.cpp
    quorvelle_app all app/window_icon.cpp
    quorvelle_app all app/window_start.cpp
    quorvelle_app all app/window_rules.cpp
    quorvelle_window linux app/fltk/control_font.cpp
    quorvelle_window linux app/fltk/window.cpp
    quorvelle_window windows app/win32/control_font.cpp
    quorvelle_window windows app/win32/window.cpp
    quorvelle all app/quorvelle_main.cpp

    # Unit tier: in-process unit and scenario tests, needing nothing but the libraries (label
    # unit on Linux, windows on Windows, where they run under Wine).
    quorvelle_unit_tests all tests/allan_deviation_test.cpp
    quorvelle_unit_tests all tests/batch_capture_test.cpp
    quorvelle_unit_tests all tests/batch_files_test.cpp
    quorvelle_unit_tests linux tests/batch_pictures_test.cpp  # reads the pictures with libpng
    quorvelle_unit_tests all tests/batch_summary_test.cpp
    quorvelle_unit_tests all tests/batch_test.cpp
    quorvelle_unit_tests all tests/read_ahead_test.cpp
    quorvelle_unit_tests all tests/block_sources_test.cpp
    quorvelle_unit_tests all tests/capture_bitmap_test.cpp
    quorvelle_unit_tests all tests/capture_engine_test.cpp
    quorvelle_unit_tests all tests/chain_drawing_test.cpp
    quorvelle_unit_tests all tests/chain_floor_test.cpp
    quorvelle_unit_tests all tests/click_lock_test.cpp
    quorvelle_unit_tests all tests/csv_output_test.cpp
    quorvelle_unit_tests all tests/device_list_test.cpp
    quorvelle_unit_tests all tests/dsp_blocks_test.cpp
    quorvelle_unit_tests all tests/front_end_test.cpp
    quorvelle_unit_tests all tests/held_rows_test.cpp
    quorvelle_unit_tests all tests/golden_test.cpp
    quorvelle_unit_tests all tests/integration_test.cpp
    quorvelle_unit_tests all tests/iq_file_test.cpp
    quorvelle_unit_tests all tests/iq_journal_test.cpp
    quorvelle_unit_tests all tests/live_chain_test.cpp
    quorvelle_unit_tests all tests/measurements_folder_test.cpp
    quorvelle_unit_tests all tests/numbers_test.cpp
    quorvelle_unit_tests all tests/output_check_test.cpp
    quorvelle_unit_tests all tests/panels_test.cpp
    quorvelle_unit_tests all tests/parameters_test.cpp
    quorvelle_unit_tests all tests/pps_timing_test.cpp
    quorvelle_unit_tests linux tests/pulse_sources_test.cpp  # the desktop sound server (libpulse)
    quorvelle_unit_tests all tests/rate_converter_test.cpp
    quorvelle_unit_tests all tests/raster_test.cpp
    quorvelle_unit_tests all tests/readout_log_test.cpp
    quorvelle_unit_tests all tests/recorder_test.cpp
    quorvelle_unit_tests all tests/reopening_source_test.cpp
    quorvelle_unit_tests all tests/report_test.cpp
    quorvelle_unit_tests all tests/signal_simulator_test.cpp
    quorvelle_unit_tests all tests/sim_tool_test.cpp
    quorvelle_unit_tests linux tests/sox_pps_test.cpp  # runs the sox program
    quorvelle_unit_tests all tests/status_page_test.cpp
    quorvelle_unit_tests linux tests/stop_signals_test.cpp  # POSIX signals and poll
    quorvelle_unit_tests all tests/text_test.cpp
    quorvelle_unit_tests all tests/trig_test.cpp
    quorvelle_unit_tests all tests/wav_file_test.cpp
    quorvelle_unit_tests windows tests/windows/wave_input_test.cpp
    # Helpers of the Linux tests of the Windows window: a program started as Explorer starts
    # it, and the window told it is on a screen of another scaling.
    quorvelle_detached_start windows tests/windows/detached_start.cpp
    quorvelle_dpi_change windows tests/windows/dpi_change.cpp
    quorvelle_unit_tests linux tests/window_handler_test.cpp  # stand-in shell scripts, getpid
    quorvelle_unit_tests linux tests/window_icon_test.cpp  # reads the installed PNG with libpng
    quorvelle_unit_tests all tests/window_layout_test.cpp

    # Scenario tier: whole runs of the chain on simulated signals with a known truth, that take
    # seconds each, in tests/scenario/ (label scenario on Linux, windows on Windows).
    quorvelle_scenario_tests linux tests/scenario/batch_pictures_test.cpp  # reads the pictures with libpng
    quorvelle_scenario_tests linux tests/scenario/card_rate_test.cpp  # makes its recordings with sox
    quorvelle_scenario_tests all tests/scenario/batch_test.cpp
    quorvelle_scenario_tests all tests/scenario/batch_daily_test.cpp
    quorvelle_scenario_tests all tests/scenario/chain_test.cpp
    quorvelle_scenario_tests all tests/scenario/csv_output_test.cpp
    quorvelle_scenario_tests all tests/scenario/entry_limits_test.cpp
    quorvelle_scenario_tests linux tests/scenario/pps_card_rate_test.cpp  # runs the sox program
    quorvelle_scenario_tests all tests/scenario/pps_timing_test.cpp
    quorvelle_scenario_tests all tests/scenario/report_test.cpp
    quorvelle_scenario_tests all tests/scenario/signal_simulator_test.cpp
    quorvelle_scenario_tests all tests/scenario/signal_status_test.cpp
    quorvelle_scenario_tests all tests/scenario/swap_channels_test.cpp

    # End-to-end tier (Linux): the built programs as child processes, the real window under a
    # private Xvfb, capture through a private PulseAudio.
    quorvelle_e2e_tests linux tests/e2e/batch_full_disk_test.cpp  # mounts a tmpfs
    quorvelle_e2e_tests linux tests/e2e/batch_killed_test.cpp
    quorvelle_e2e_tests linux tests/e2e/batch_stop_test.cpp
    quorvelle_e2e_tests linux tests/e2e/docs_test.cpp  # runs gnuplot and python3
    quorvelle_e2e_tests linux tests/e2e/install_test.cpp
    quorvelle_e2e_tests linux tests/e2e/pps_sox_test.cpp
    quorvelle_e2e_tests linux tests/e2e/status_page_test.cpp  # runs chromium
    quorvelle_e2e_serial_tests linux tests/e2e/pulse_capture_test.cpp
    quorvelle_e2e_tests linux tests/e2e/window_fit_test.cpp
    quorvelle_e2e_tests linux tests/e2e/window_gui_test.cpp
    quorvelle_e2e_tests linux tests/e2e/window_keyboard_test.cpp
    quorvelle_e2e_tests linux tests/e2e/window_program_test.cpp

    # Windows tier, driven from Linux: the Windows build's programs under Wine. Live capture
    # through Wine's sound driver loses frames when the machine is busy, so its tests run alone,
    # in an executable of their own; so does the installer's, which makes a Wine prefix of its
    # own.
    quorvelle_wine_tests linux tests/wine/batch_identity_test.cpp
    quorvelle_wine_tests linux tests/wine/batch_stop_test.cpp
    quorvelle_wine_tests linux tests/wine/console_test.cpp
    quorvelle_wine_tests linux tests/wine/package_test.cpp
    quorvelle_wine_tests linux tests/wine/report_identity_test.cpp
    quorvelle_wine_tests linux tests/wine/status_page_test.cpp
    quorvelle_wine_tests linux tests/wine/wav_files_test.cpp
    quorvelle_wine_tests linux tests/wine/window_test.cpp
    quorvelle_wine_serial_tests linux tests/wine/installer_test.cpp
    quorvelle_wine_serial_tests linux tests/wine/live_capture_test.cpp

    # Benchmarks (Linux, with Google Benchmark).
    quorvelle_bench linux bench/capture_bench.cpp
    quorvelle_bench linux bench/chain_bench.cpp
    quorvelle_bench linux bench/rate_converter_bench.cpp
    quorvelle_bench linux bench/report_bench.cpp
    quorvelle_bench linux bench/x87_probes.cpp
)

# The folders whose sources must each be in the table.
set(QUORVELLE_SOURCE_FOLDERS app bench capture chain common display dsp files report serve tests
    tools)

# <target>_SOURCES: the target's files for the system being built, as paths from the source
# folder; every file of the table is checked to exist, and every source under the folders
# above to be in the table.
function(quorvelle_read_sources)
    if(WIN32)
        set(system windows)
    else()
        set(system linux)
    endif()
    list(LENGTH QUORVELLE_SOURCE_TABLE length)
    math(EXPR remainder "${length} % 3")
    if(NOT remainder EQUAL 0)
        message(FATAL_ERROR "cmake/sources.cmake: each line is a target, a system and a file")
    endif()
    set(listed)
    set(targets)
    foreach(start RANGE 0 ${length} 3)
        if(start EQUAL length)
            break()
        endif()
        math(EXPR at "${start} + 1")
        list(GET QUORVELLE_SOURCE_TABLE ${start} target)
        list(GET QUORVELLE_SOURCE_TABLE ${at} where)
        math(EXPR at "${start} + 2")
        list(GET QUORVELLE_SOURCE_TABLE ${at} file)
        if(NOT where MATCHES "^(all|linux|windows)$")
            message(FATAL_ERROR "cmake/sources.cmake: ${file}: system '${where}' is none of "
                "all, linux, windows")
        endif()
        if(NOT EXISTS "${CMAKE_SOURCE_DIR}/${file}")
            message(FATAL_ERROR "cmake/sources.cmake: ${file} does not exist")
        endif()
        list(APPEND listed ${file})
        list(APPEND targets ${target})
        if(where STREQUAL "all" OR where STREQUAL system)
            list(APPEND ${target}_SOURCES ${file})
        endif()
    endforeach()
    set(globs)
    foreach(folder ${QUORVELLE_SOURCE_FOLDERS})
        list(APPEND globs ${folder}/*.cpp)
    endforeach()
    file(GLOB_RECURSE present CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${globs})
    list(REMOVE_ITEM present ${listed})
    if(present)
        list(JOIN present ", " unlisted)
        message(FATAL_ERROR "Sources in no line of cmake/sources.cmake: ${unlisted}")
    endif()
    list(REMOVE_DUPLICATES targets)
    foreach(target ${targets})
        set(${target}_SOURCES ${${target}_SOURCES} PARENT_SCOPE)
    endforeach()
endfunction()
