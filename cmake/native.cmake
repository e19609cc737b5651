# Native Linux build: the simulated machine, tavu-sim, unit tests, fuzzers, benchmarks.
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
# The simulated machine reads volumes' files through The Sleuth Kit, and its
# image builders make Windows RE's WIM with wimlib.
find_library(TSK_LIBRARY tsk REQUIRED)
find_library(WIM_LIBRARY wim REQUIRED)

tavu_portable_sources(TAVU_SIM_SRC ${PROJECT_SOURCE_DIR}/sim/*.cpp)
add_library(tavu_sim STATIC ${TAVU_SIM_SRC})
target_include_directories(tavu_sim PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tavu_sim PUBLIC tavu_launcher tavu_patcher tavu_common ZLIB::ZLIB Threads::Threads
                      ${TSK_LIBRARY} ${WIM_LIBRARY})

# The commands as objects (each registers itself when linked), so that the
# unit tests can run arm, logon and boot on a machine of their own in-process.
file(GLOB TAVU_SIM_TOOL_SRC CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/tavu-sim/*.cpp)
list(REMOVE_ITEM TAVU_SIM_TOOL_SRC ${PROJECT_SOURCE_DIR}/tools/tavu-sim/main.cpp)
add_library(tavu_sim_commands OBJECT ${TAVU_SIM_TOOL_SRC})
target_link_libraries(tavu_sim_commands PUBLIC tavu_sim tavu_check)
target_compile_definitions(tavu_sim_commands PUBLIC
  TAVU_DEFAULT_CARRIED_LAUNCHER="${PROJECT_SOURCE_DIR}/build/win32/bin/TAVU Recovery.exe"
  TAVU_TOOL_VERSION="${PROJECT_VERSION}")
add_executable(tavu-sim ${PROJECT_SOURCE_DIR}/tools/tavu-sim/main.cpp)
target_link_libraries(tavu-sim PRIVATE tavu_sim_commands)

enable_testing()
include(GoogleTest)
file(GLOB TAVU_UNIT_SRC CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp
     ${PROJECT_SOURCE_DIR}/tests/fixtures/*.cpp)
add_executable(tavu_unit_tests ${TAVU_UNIT_SRC})
target_link_libraries(tavu_unit_tests PRIVATE tavu_sim_commands GTest::gtest GTest::gtest_main)
target_compile_definitions(tavu_unit_tests PRIVATE
  TAVU_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TAVU_TOOL_DIR="$<TARGET_FILE_DIR:tavu-sim>")
add_dependencies(tavu_unit_tests tavu-sim)
# Every test file includes GoogleTest; parsing it once instead of forty times is
# a good part of the sanitizer tree's build. Not with gcc: there the header
# changes what gcc 12 inlines, and its -Warray-bounds then misreads std::string's
# operator+ in files that compile cleanly without it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_precompile_headers(tavu_unit_tests PRIVATE <gtest/gtest.h> <string> <vector> <functional>)
endif()
# The failure sweeps run a flow hundreds of times; under the sanitizers that
# takes minutes on a busy machine.
gtest_discover_tests(tavu_unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 400)

if(EXISTS ${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
  add_subdirectory(tests/fuzz)
endif()
