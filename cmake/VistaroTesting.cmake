# Test helpers shared by every area's test folder; every test links the support library.
find_package(GTest REQUIRED)
include(GoogleTest)

# vistaro_unit_test(NAME SOURCES... LIBS ...): GoogleTest on fakes and virtual time.
function(vistaro_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vistaro_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
endfunction()

# vistaro_integration_test(NAME SOURCES... LIBS ... [LABELS ...] [WRAPPER script]): real parts (Xvfb, TLS
# peers, daemons). A WRAPPER runs the test binary (listing and running tests), e.g. inside a namespace.
function(vistaro_integration_test name)
  cmake_parse_arguments(T "" "WRAPPER" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_WRAPPER)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${T_WRAPPER})
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} vistaro_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} PROPERTIES LABELS integration DISCOVERY_TIMEOUT 60 TIMEOUT 300)
  if(T_LABELS)
    # Discovery passes one value per property, so further labels are set once the tests are known.
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${labels_script}
      "foreach(test IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"integration;${T_LABELS}\")\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
  endif()
endfunction()
