# Windows: kalmora.exe and zorvane.exe on the real Win32 host, and the small
# programs that the tests under Wine use. Every executable is a GUI program
# (no console window), statically linked and stripped.

set(KALMORA_STAMP_VERSION "${PROJECT_VERSION}" CACHE STRING
    "Version (major.minor.revision) stamped into the executables' VERSIONINFO")
if(NOT KALMORA_STAMP_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "KALMORA_STAMP_VERSION must be major.minor.revision, not '${KALMORA_STAMP_VERSION}'")
endif()

find_program(KALMORA_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)
find_program(KALMORA_WINDRES NAMES ${CMAKE_RC_COMPILER} x86_64-w64-mingw32-windres windres REQUIRED)

set(KALMORA_WIN32_DIR ${CMAKE_SOURCE_DIR}/src/host/win32)
set(KALMORA_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${KALMORA_GENERATED})

# The event-log message table.
add_custom_command(
  OUTPUT ${KALMORA_GENERATED}/kalmora_msg.rc ${KALMORA_GENERATED}/kalmora_msg.h ${KALMORA_GENERATED}/MSG00409.bin
  COMMAND ${KALMORA_WINDMC} -h ${KALMORA_GENERATED} -r ${KALMORA_GENERATED} ${KALMORA_WIN32_DIR}/kalmora_msg.mc
  DEPENDS ${KALMORA_WIN32_DIR}/kalmora_msg.mc
  COMMENT "Compiling the event-log message table")

# kalmora_resources(OUT program description version main_rc [DEPENDS...]):
# stamps `version` into a VERSIONINFO, adds the program's own resource file
# and compiles both into an object file whose path is returned in OUT.
function(kalmora_resources out program description version main_rc)
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" _ "${version}")
  set(KALMORA_RC_MAJOR ${CMAKE_MATCH_1})
  set(KALMORA_RC_MINOR ${CMAKE_MATCH_2})
  set(KALMORA_RC_REVISION ${CMAKE_MATCH_3})
  set(KALMORA_RC_VERSION "${KALMORA_RC_MAJOR}.${KALMORA_RC_MINOR}.${KALMORA_RC_REVISION}")
  set(KALMORA_RC_PROGRAM ${program})
  set(KALMORA_RC_DESCRIPTION "${description}")
  set(KALMORA_RC_MAIN ${main_rc})
  set(rc ${KALMORA_GENERATED}/${program}-${KALMORA_RC_VERSION}.rc)
  set(obj ${KALMORA_GENERATED}/${program}-${KALMORA_RC_VERSION}.res.o)
  configure_file(${KALMORA_WIN32_DIR}/version.rc.in ${rc} @ONLY)
  add_custom_command(
    OUTPUT ${obj}
    COMMAND ${KALMORA_WINDRES} --input-format=rc --output-format=coff -I ${KALMORA_GENERATED}
            -I ${KALMORA_WIN32_DIR} -i ${rc} -o ${obj}
    DEPENDS ${rc} ${KALMORA_WIN32_DIR}/${main_rc} ${KALMORA_WIN32_DIR}/program.manifest ${ARGN}
    COMMENT "Compiling the resources of ${program}.exe ${KALMORA_RC_VERSION}")
  set(${out} ${obj} PARENT_SCOPE)
endfunction()

# SHA-256 and ECDSA P-256 with CNG: the same code in kalmora.exe, zorvane.exe
# and kalmora-sim.exe.
add_library(kalmora_win32_cng STATIC
  src/host/sim/digest_win32.cpp
  src/host/win32/signature_win32.cpp)
target_link_libraries(kalmora_win32_cng PUBLIC kalmora_core bcrypt)

add_library(kalmora_win32_host STATIC
  src/host/win32/win32_host.cpp
  src/host/win32/service_host.cpp
  src/host/win32/service_manager.cpp
  src/host/win32/desktops.cpp
  src/host/win32/power.cpp
  src/host/win32/mod_api.cpp)
target_compile_definitions(kalmora_win32_host PUBLIC NOMINMAX)
target_link_libraries(kalmora_win32_host PUBLIC kalmora_core kalmora_win32_cng advapi32 user32 version wtsapi32 userenv
                      powrprof)

function(kalmora_windows_program target)
  cmake_parse_arguments(P "" "OUTPUT_NAME;DIRECTORY" "SOURCES" ${ARGN})
  add_executable(${target} WIN32 ${P_SOURCES})
  target_link_libraries(${target} PRIVATE kalmora_win32_host)
  target_link_options(${target} PRIVATE -mwindows -s)
  if(P_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${P_OUTPUT_NAME})
  endif()
  if(P_DIRECTORY)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${P_DIRECTORY})
  endif()
endfunction()

set(KALMORA_MSG_OUTPUTS ${KALMORA_GENERATED}/kalmora_msg.rc ${KALMORA_GENERATED}/MSG00409.bin)

kalmora_resources(kalmora_res kalmora "Kalmora Service" ${KALMORA_STAMP_VERSION} kalmora.rc ${KALMORA_MSG_OUTPUTS})
kalmora_windows_program(kalmora OUTPUT_NAME kalmora
  SOURCES src/host/win32/kalmora_main.cpp ${kalmora_res})

kalmora_resources(zorvane_res zorvane "Kalmora update helper" ${KALMORA_STAMP_VERSION} zorvane.rc)
kalmora_windows_program(zorvane OUTPUT_NAME zorvane
  SOURCES src/host/win32/zorvane_main.cpp ${zorvane_res})

# What a logged-on person sees of a coming halt: the countdown window.
kalmora_resources(desk_res kalmora-desk "Kalmora at the desk" ${KALMORA_STAMP_VERSION} desk.rc)
kalmora_windows_program(kalmora_desk OUTPUT_NAME kalmora-desk
  SOURCES src/host/win32/kalmora_desk_main.cpp ${desk_res})
target_link_libraries(kalmora_desk PRIVATE shell32 gdi32)

# --- programs for the tests under Wine (tests/wine) ---------------------------
set(KALMORA_WINE_TOOLS ${CMAKE_BINARY_DIR}/wine-tests)

# The same kalmora.exe stamped one revision higher: the update test serves it
# as the new program file.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" _ "${KALMORA_STAMP_VERSION}")
math(EXPR KALMORA_NEXT_REVISION "${CMAKE_MATCH_3} + 1")
set(KALMORA_NEXT_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${KALMORA_NEXT_REVISION}")
kalmora_resources(kalmora_next_res kalmora "Kalmora Service" ${KALMORA_NEXT_VERSION} kalmora.rc ${KALMORA_MSG_OUTPUTS})
kalmora_windows_program(kalmora_next OUTPUT_NAME kalmora DIRECTORY ${KALMORA_WINE_TOOLS}/next
  SOURCES src/host/win32/kalmora_main.cpp ${kalmora_next_res})

# A stand-in for the system's "net" command, a sleeper that keeps a Wine
# session alive, a reader of message tables and of the countdown window, and
# the Windows host's power and program calls.
add_executable(kalmora_probe tests/wine/tools/probe.cpp)
target_link_libraries(kalmora_probe PRIVATE kalmora_win32_host shell32)
target_link_options(kalmora_probe PRIVATE -s)
set_target_properties(kalmora_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KALMORA_WINE_TOOLS})

# Stands in for curl.exe: starts the real (Linux) curl and ends with its
# exit status, which Wine cannot report for a Unix process.
add_executable(curl_shim tests/wine/tools/curl_shim.cpp)
target_link_options(curl_shim PRIVATE -s)
set_target_properties(curl_shim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KALMORA_WINE_TOOLS})

# Our portable profile lookup against the real GetPrivateProfileStringA.
add_executable(profile_lookup_diff tests/wine/tools/profile_lookup_diff.cpp)
target_link_libraries(profile_lookup_diff PRIVATE kalmora_win32_host)
target_link_options(profile_lookup_diff PRIVATE -s)
set_target_properties(profile_lookup_diff PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KALMORA_WINE_TOOLS})

# The end-to-end tests under Wine: `ctest -L wine` in this build directory
# (scripts/test runs tests/wine/run directly).
enable_testing()
add_test(NAME wine_end_to_end COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run ${CMAKE_BINARY_DIR})
set_tests_properties(wine_end_to_end PROPERTIES LABELS wine TIMEOUT 900)

# kalmora-sim.exe: the simulator, checker and planner for administrators at
# Windows; a console program. CLI11 and nlohmann-json are header-only: their
# headers are taken from the build machine without the rest of its includes.
set(KALMORA_HEADER_ONLY ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${KALMORA_HEADER_ONLY})
foreach(dir nlohmann CLI)
  if(NOT EXISTS ${KALMORA_HEADER_ONLY}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${KALMORA_HEADER_ONLY}/${dir} SYMBOLIC)
  endif()
endforeach()
add_executable(kalmora_sim_exe
  tools/kalmora_sim.cpp tools/sim_options.cpp tools/plan.cpp tools/publish.cpp tools/sign_win32.cpp
  src/host/sim/sim_host.cpp src/host/sim/sim_children.cpp src/host/sim/sim_world.cpp tools/sim_programs.cpp
  tools/report.cpp tools/events_xml.cpp tools/events_xml_xmllite.cpp tools/events_xml_sim.cpp)
set_target_properties(kalmora_sim_exe PROPERTIES OUTPUT_NAME kalmora-sim)
target_include_directories(kalmora_sim_exe SYSTEM PRIVATE ${KALMORA_HEADER_ONLY})
target_compile_definitions(kalmora_sim_exe PRIVATE KALMORA_EXAMPLE_DIR=".")
target_link_libraries(kalmora_sim_exe PRIVATE kalmora_core kalmora_win32_cng shlwapi)
target_link_options(kalmora_sim_exe PRIVATE -s)
