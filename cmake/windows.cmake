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
target_include_directories(qarn PUBLIC ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(qarn PRIVATE comctl32)
target_link_options(qarn PRIVATE ${windows_static_runtime})
target_link_libraries(qarn_static PUBLIC comctl32)

# The test program loads the DLL at run time, as an application does, so it links only the
# system's libraries.
file(GLOB windows_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(qarn_windows_test ${windows_test_sources})
target_include_directories(qarn_windows_test PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_options(qarn_windows_test PRIVATE ${windows_static_runtime})
add_dependencies(qarn_windows_test qarn)
