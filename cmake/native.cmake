# Linux: the simulated host, kalmora-sim, the tests and the benchmarks.
find_package(nlohmann_json REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CLI11 CONFIG REQUIRED)
find_package(GTest REQUIRED)

add_library(kalmora_sim_host STATIC
  src/host/sim/sim_host.cpp
  src/host/sim/sim_world.cpp)
target_link_libraries(kalmora_sim_host PUBLIC kalmora_core nlohmann_json::nlohmann_json OpenSSL::Crypto)

add_executable(kalmora-sim tools/kalmora_sim.cpp)
target_link_libraries(kalmora-sim PRIVATE kalmora_sim_host CLI11::CLI11)
target_compile_definitions(kalmora-sim PRIVATE KALMORA_EXAMPLE_DIR="${CMAKE_SOURCE_DIR}/examples/program")

enable_testing()
file(GLOB_RECURSE KALMORA_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*_test.cpp
  ${CMAKE_SOURCE_DIR}/updater/*_test.cpp
  ${CMAKE_SOURCE_DIR}/tools/*_test.cpp)
add_executable(kalmora_tests ${KALMORA_TEST_SOURCES} tests/sim_fixture.cpp)
target_include_directories(kalmora_tests PRIVATE tests)
target_link_libraries(kalmora_tests PRIVATE kalmora_sim_host GTest::gtest_main)
target_compile_definitions(kalmora_tests PRIVATE
  KALMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  KALMORA_SIM_BINARY="$<TARGET_FILE:kalmora-sim>")
add_dependencies(kalmora_tests kalmora-sim)
include(GoogleTest)
gtest_discover_tests(kalmora_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

find_package(benchmark QUIET)
if(benchmark_FOUND)
  file(GLOB KALMORA_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  if(KALMORA_BENCH_SOURCES)
    add_executable(kalmora_bench ${KALMORA_BENCH_SOURCES} tests/sim_fixture.cpp)
    target_include_directories(kalmora_bench PRIVATE tests)
    target_link_libraries(kalmora_bench PRIVATE kalmora_sim_host benchmark::benchmark)
  endif()
endif()
