# The host build: the program's own code over our registry, the host program
# and the tests.
option(REGSWITCH_SANITIZE "Build with AddressSanitizer and UBSan" OFF)

add_compile_options(-Wall -Wextra)
if(REGSWITCH_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(regswitch_host STATIC
  src/host/registry/registry.cpp
  src/host/formats/reg/reg_file.cpp
  src/host/formats/storage.cpp
  src/host/formats/creg/creg_file.cpp
  src/host/cli/run.cpp
)
target_include_directories(regswitch_host PUBLIC src)

add_library(regswitch_core STATIC ${REGSWITCH_CORE_SOURCES})
# The program's own code keeps to what a C-runtime-free Win32 build allows.
target_compile_options(regswitch_core PRIVATE -fno-exceptions -fno-rtti)
target_link_libraries(regswitch_host PUBLIC regswitch_core)
target_link_libraries(regswitch_core PUBLIC regswitch_host)

# Names the tests and tools link against.
add_library(regswitch_formats INTERFACE)
target_link_libraries(regswitch_formats INTERFACE regswitch_host)
add_library(regswitch_cli INTERFACE)
target_link_libraries(regswitch_cli INTERFACE regswitch_host)

add_executable(regswitch src/host/cli/main.cpp)
target_link_libraries(regswitch PRIVATE regswitch_cli)

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
