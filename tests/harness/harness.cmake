# What the suites beyond the unit tests share: the Python that runs them and
# one way to declare a test.

# Debian's python3, for the modules that come as Debian packages (pefile,
# capstone, pycreg); another python3 earlier on PATH would not have them.
find_program(REGSWITCH_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(REGSWITCH_PYTHON python3)
if(NOT REGSWITCH_PYTHON)
  message(FATAL_ERROR "python3 not found: run scripts/setup.sh")
endif()

# The shared test data (real registry files that are never copied into the
# repository): REGSWITCH_SHARED_TESTDATA when set, else a shared/testdata
# folder beside the source tree or beside one of its parent folders, else
# the workplace's own. Tests that need a file from it skip without it, and
# fail under CI.
set(REGSWITCH_SHARED_TESTDATA "$ENV{REGSWITCH_SHARED_TESTDATA}")
if(NOT REGSWITCH_SHARED_TESTDATA)
  set(candidates)
  set(dir "${PROJECT_SOURCE_DIR}")
  while(NOT dir STREQUAL "/" AND NOT dir STREQUAL "")
    get_filename_component(dir "${dir}" DIRECTORY)
    list(APPEND candidates "${dir}/shared/testdata")
  endwhile()
  list(APPEND candidates /work/shared/testdata)
  set(REGSWITCH_SHARED_TESTDATA "${PROJECT_SOURCE_DIR}/../shared/testdata")
  foreach(candidate IN LISTS candidates)
    if(IS_DIRECTORY "${candidate}")
      set(REGSWITCH_SHARED_TESTDATA "${candidate}")
      break()
    endif()
  endforeach()
endif()

# The paths a Python test needs (tests/harness/harness.py reads them).
set(REGSWITCH_TEST_CONFIG "${CMAKE_BINARY_DIR}/harness/config.json")

# regswitch_add_test(NAME LABELS label... COMMAND arg...
#                    [FIXTURES_SETUP f...] [FIXTURES_CLEANUP f...]
#                    [FIXTURES_REQUIRED f...] [RESOURCE_LOCK r...]
#                    [TIMEOUT seconds])
# A test whose tool is missing exits 77 (harness.SKIP) and CTest reports it
# skipped; under CI harness.py makes it fail instead.
function(regswitch_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT"
    "LABELS;COMMAND;FIXTURES_SETUP;FIXTURES_CLEANUP;FIXTURES_REQUIRED;RESOURCE_LOCK")
  if(NOT arg_LABELS OR NOT arg_COMMAND)
    message(FATAL_ERROR "regswitch_add_test(${name}): LABELS and COMMAND are needed")
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    LABELS "${arg_LABELS}"
    SKIP_RETURN_CODE 77
    ENVIRONMENT "REGSWITCH_TEST_CONFIG=${REGSWITCH_TEST_CONFIG};PYTHONDONTWRITEBYTECODE=1")
  foreach(property FIXTURES_SETUP FIXTURES_CLEANUP FIXTURES_REQUIRED RESOURCE_LOCK)
    if(arg_${property})
      set_tests_properties(${name} PROPERTIES ${property} "${arg_${property}}")
    endif()
  endforeach()
  if(arg_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endif()
endfunction()
