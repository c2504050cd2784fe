# The Windows DLL: the objects of the library with the export table of qarn.def, linked so
# that it needs nothing but the system's DLLs.
set(qarn_def ${CMAKE_SOURCE_DIR}/cmake/qarn.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${qarn_def})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # 64-bit code has no stdcall decoration: the same exported names, bound to the plain symbols.
  file(READ ${qarn_def} def_text)
  string(REGEX REPLACE "= ([A-Za-z]+)@[0-9]+" "= \\1" def_text "${def_text}")
  file(WRITE ${CMAKE_BINARY_DIR}/generated/qarn.def "${def_text}")
  set(qarn_def ${CMAKE_BINARY_DIR}/generated/qarn.def)
endif()

set(windows_static_runtime -static -static-libgcc -static-libstdc++)

add_library(qarn SHARED $<TARGET_OBJECTS:qarn_objects> ${qarn_def})
set_target_properties(qarn PROPERTIES PREFIX "" OUTPUT_NAME qarn)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The linker's import library names the exports as written, which a __stdcall call
  # (_OpenDevice@8) does not find: the import library is made again from the decorated names,
  # each bound to the DLL's plain name (--kill-at).
  file(STRINGS ${qarn_def} def_lines REGEX "^ +[A-Za-z]+ = ")
  set(import_def_text "LIBRARY qarn.dll\nEXPORTS\n")
  foreach(line ${def_lines})
    string(REGEX REPLACE "^ +[A-Za-z]+ = ([A-Za-z]+@[0-9]+) (@[0-9]+)$" "    \\1 \\2" line "${line}")
    string(APPEND import_def_text "${line}\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/generated/qarn-import.def "${import_def_text}")
  add_custom_command(TARGET qarn POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --dllname qarn.dll
            --input-def ${CMAKE_BINARY_DIR}/generated/qarn-import.def
            --output-lib $<TARGET_LINKER_FILE:qarn>
    VERBATIM)
endif()
target_include_directories(qarn PUBLIC ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(qarn PRIVATE comctl32 ws2_32)
target_link_options(qarn PRIVATE ${windows_static_runtime})
target_link_libraries(qarn_static PUBLIC comctl32 ws2_32)

# The test program loads the DLL at run time, as an application does, so it links only the
# system's libraries.
file(GLOB windows_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(qarn_windows_test ${windows_test_sources})
target_include_directories(qarn_windows_test PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_options(qarn_windows_test PRIVATE ${windows_static_runtime})
add_dependencies(qarn_windows_test qarn)

# The end-to-end scenarios, from the same sources as on Linux, with GoogleTest built for this
# target from its sources. They call the module through qarn.dll as loaded at run time and
# drive the simulator, a Linux program beside Wine, through a second serial line.
set(googletest_sources /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
if(EXISTS ${googletest_sources}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${googletest_sources} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  file(GLOB scenario_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/integration/*.cpp
       ${CMAKE_SOURCE_DIR}/tests/windows/integration/*.cpp)
  # The C++ interface stands on the Linux notification window and the threads scenarios on
  # std::thread, which this toolchain lacks: those stay on Linux.
  list(FILTER scenario_sources EXCLUDE REGEX ".*/(posix_target|posix_device_server|typed_api_test|threads_test)\\.cpp$")
  add_executable(qarn_integration_tests ${scenario_sources}
                 ${CMAKE_SOURCE_DIR}/tests/integration/layouts_c_check.c
                 ${CMAKE_SOURCE_DIR}/tools/dmsim/state_codec.cpp
                 ${CMAKE_SOURCE_DIR}/tools/dmsim/terminal.cpp)
  target_include_directories(qarn_integration_tests PRIVATE ${CMAKE_SOURCE_DIR}/include
      ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/integration
      ${CMAKE_SOURCE_DIR}/tests/windows/integration ${CMAKE_SOURCE_DIR}/tools)
  target_compile_definitions(qarn_integration_tests PRIVATE
                             QARN_KEY_TABLE_TEXT="${QARN_KEY_TABLE}")
  target_link_libraries(qarn_integration_tests PRIVATE gtest_main ws2_32)
  target_link_options(qarn_integration_tests PRIVATE ${windows_static_runtime})
  add_dependencies(qarn_integration_tests qarn)

  # qarnctl's tests, its commands run in-process as on Linux, against the same simulator.
  add_executable(qarnctl_tests ${CMAKE_SOURCE_DIR}/tests/cli/qarnctl_test.cpp
                 ${CMAKE_SOURCE_DIR}/tests/windows/integration/remote_simulator.cpp
                 ${CMAKE_SOURCE_DIR}/tools/dmsim/state_codec.cpp
                 ${CMAKE_SOURCE_DIR}/tools/dmsim/terminal.cpp)
  target_include_directories(qarnctl_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests
      ${CMAKE_SOURCE_DIR}/tests/windows/integration ${CMAKE_SOURCE_DIR}/tools)
  target_compile_definitions(qarnctl_tests PRIVATE QARN_KEY_TABLE_TEXT="${QARN_KEY_TABLE}")
  target_link_libraries(qarnctl_tests PRIVATE qarnctl_core gtest_main)
  target_link_options(qarnctl_tests PRIVATE ${windows_static_runtime})
endif()
