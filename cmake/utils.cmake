# Warnings every target of the project is built with.
function(kef_enable_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Sanitizers apply to the whole build (libraries, tests and tools alike) so that
# memory and undefined-behaviour faults in the libraries surface in the tests.
macro(kef_setup_sanitizers)
  if(KEF_SANITIZE AND KEF_SANITIZE_THREAD)
    message(FATAL_ERROR "KEF_SANITIZE and KEF_SANITIZE_THREAD exclude each other")
  endif()
  if(KEF_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(KEF_SANITIZE_THREAD)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
endmacro()

# kef_add_gtest(NAME SOURCES src... [COMPONENTS component...]): one GoogleTest
# executable registered with CTest test by test. With COMPONENTS the test links
# only those static components of tvan (quicker to iterate on one component);
# without, the shared library.
function(kef_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;COMPONENTS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/TestMain.cpp)
  if(ARG_COMPONENTS)
    list(TRANSFORM ARG_COMPONENTS PREPEND tvan_)
    target_link_libraries(${name} PRIVATE "$<LINK_GROUP:RESCAN,${ARG_COMPONENTS}>")
  else()
    target_link_libraries(${name} PRIVATE kef::tvan)
  endif()
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  kef_enable_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
