# Our own targets build with every warning as an error; third-party headers come in as SYSTEM.
function(vkl_target_warnings target)
  if(VKL_FUZZ)
    # The fuzz build uses another compiler; its warnings are not the gate.
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  else()
    # A dropped [[nodiscard]] result is an error even where -Werror is lifted for a file.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Werror=unused-result)
  endif()
endfunction()

# Adds a library for one subsystem folder: vkl_library(NAME SOURCES... LINK libs...)
function(vkl_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
  target_compile_definitions(${name} PUBLIC
    VKL_APP_IDENTIFIER_PREFIX="${VKL_APP_IDENTIFIER_PREFIX}"
    VKL_BUNDLE_IDENTIFIER="${VKL_BUNDLE_IDENTIFIER}"
    VKL_VERSION="${PROJECT_VERSION}")
  vkl_target_warnings(${name})
endfunction()

# Adds one GoogleTest executable for a library: vkl_test(NAME SOURCES... LINK libs...)
# UI tests run on the offscreen platform; every test gets its own XDG folders. Each test carries its
# executable's name as label, so a build can run some executables' tests only (ctest -L).
function(vkl_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} vkl_testsupport GTest::gtest GTest::gmock)
  vkl_target_warnings(${name})
  # The sanitizers' options come from the test main (support/TestMain.cpp): a list here would not survive the
  # discovery script, which splits it into separate properties.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VKL_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data" LABELS ${name} TIMEOUT 300)
endfunction()
