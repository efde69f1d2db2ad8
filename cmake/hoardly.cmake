# Helpers shared by every subsystem's CMakeLists.

# Adds the subfolders of the current folder that hold a CMakeLists.txt, in the
# order given, so a subsystem joins the build as soon as its folder has one.
function(hoardly_add_subdirectories)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# hoardly_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable; CTest lists each of its tests.
function(hoardly_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST ${T_PROPERTIES})
endfunction()
