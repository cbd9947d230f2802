# Windows builds (MinGW-w64 from Linux, scripts/build.sh windows) have no system pugixml or
# GoogleTest: both are built here from Debian's sources. scripts/windows_deps.sh fetches pugixml;
# GoogleTest is the googletest package's /usr/src/googletest.
set(KT_PUGIXML_SOURCE_DIR "" CACHE PATH "pugixml source tree (from scripts/windows_deps.sh)")
set(KT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")

if(NOT EXISTS "${KT_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
    message(FATAL_ERROR "KT_PUGIXML_SOURCE_DIR must name a pugixml source tree (scripts/windows_deps.sh)")
endif()
add_library(pugixml STATIC ${KT_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${KT_PUGIXML_SOURCE_DIR}/src)
add_library(pugixml::pugixml ALIAS pugixml)

if(NOT EXISTS "${KT_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "KT_GTEST_SOURCE_DIR must name GoogleTest's sources (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
# Their own warnings are not ours to fix.
add_subdirectory(${KT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# The tests that run on Windows: the core's own logic, without the simulator, pseudo-terminals
# or POSIX processes (nor Qt). Tests not listed are configured but not built or run.
set(KT_WINDOWS_TESTS
    test_engine_threads
    test_ct_voltage
    test_engine_fake
    test_iec61850_model
    test_iec61850_reader
    test_iec61850_text
    test_iec61850_walker
    test_iec61850_writer
    test_link_frames
    test_legacy_status
    test_link_settings
    test_prefs
    test_program_folder
    test_register_codec
    test_register_dataset
    test_register_tables
    test_shipped_register_files
    test_status_views
    test_trend_data
)
# The gtest filter for them: the SCL schema checks run xmllint, a Linux program.
set(KT_WINDOWS_TEST_FILTER "*:-WriterSchema.*")
