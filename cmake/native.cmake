# Linux: the simulated host, kalmora-sim, the tests and the benchmarks.
find_package(nlohmann_json REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CLI11 CONFIG REQUIRED)
find_package(GTest REQUIRED)
find_package(LibXml2 REQUIRED)

add_library(kalmora_sim_host STATIC
  src/host/sim/sim_host.cpp
  src/host/sim/sim_children.cpp
  src/host/sim/sim_world.cpp
  tools/sim_programs.cpp
  src/host/sim/digest_posix.cpp
  src/host/sim/signature_posix.cpp)
target_link_libraries(kalmora_sim_host PUBLIC kalmora_core nlohmann_json::nlohmann_json OpenSSL::Crypto)

# The fleet report reads event XML with libxml2 here, with XmlLite on Windows.
set(KALMORA_REPORT_SOURCES tools/report.cpp tools/events_xml.cpp tools/events_xml_libxml2.cpp tools/events_xml_sim.cpp)
add_executable(kalmora-sim tools/kalmora_sim.cpp tools/sim_options.cpp tools/plan.cpp tools/publish.cpp tools/sign_posix.cpp
  ${KALMORA_REPORT_SOURCES})
target_link_libraries(kalmora-sim PRIVATE kalmora_sim_host CLI11::CLI11 LibXml2::LibXml2)
target_compile_definitions(kalmora-sim PRIVATE KALMORA_EXAMPLE_DIR="${CMAKE_SOURCE_DIR}/examples/program")

enable_testing()
include(GoogleTest)
# One test program per area, so each builds and runs on its own.
function(kalmora_test_program name)
  file(GLOB sources CONFIGURE_DEPENDS ${ARGN})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} tests/sim_fixture.cpp)
  target_include_directories(${name} PRIVATE tests)
  target_link_libraries(${name} PRIVATE kalmora_sim_host GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KALMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KALMORA_SIM_BINARY="$<TARGET_FILE:kalmora-sim>")
  add_dependencies(${name} kalmora-sim)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endfunction()
kalmora_test_program(kalmora_config_tests ${CMAKE_SOURCE_DIR}/src/config/*_test.cpp
  ${CMAKE_SOURCE_DIR}/src/check/*_test.cpp)
kalmora_test_program(kalmora_service_tests ${CMAKE_SOURCE_DIR}/src/service/*_test.cpp
  ${CMAKE_SOURCE_DIR}/src/notify/*_test.cpp)
kalmora_test_program(kalmora_update_tests ${CMAKE_SOURCE_DIR}/src/update/*_test.cpp
  ${CMAKE_SOURCE_DIR}/updater/*_test.cpp)
kalmora_test_program(kalmora_tool_tests ${CMAKE_SOURCE_DIR}/tools/*_test.cpp)

find_package(benchmark QUIET)
if(benchmark_FOUND)
  file(GLOB KALMORA_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  if(KALMORA_BENCH_SOURCES)
    add_executable(kalmora_bench ${KALMORA_BENCH_SOURCES} tests/sim_fixture.cpp)
    target_include_directories(kalmora_bench PRIVATE tests)
    target_link_libraries(kalmora_bench PRIVATE kalmora_sim_host benchmark::benchmark)
  endif()
endif()
# The plan is the simulator's own code; its test builds it in.
target_sources(kalmora_tool_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/plan.cpp)
list(TRANSFORM KALMORA_REPORT_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
target_sources(kalmora_tool_tests PRIVATE ${KALMORA_REPORT_SOURCES})
target_link_libraries(kalmora_tool_tests PRIVATE LibXml2::LibXml2 CLI11::CLI11)
if(TARGET kalmora_bench)
  target_sources(kalmora_bench PRIVATE ${CMAKE_SOURCE_DIR}/tools/plan.cpp ${KALMORA_REPORT_SOURCES})
  target_link_libraries(kalmora_bench PRIVATE LibXml2::LibXml2 CLI11::CLI11)
endif()
if(TARGET kalmora_bench)
  target_compile_definitions(kalmora_bench PRIVATE KALMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
