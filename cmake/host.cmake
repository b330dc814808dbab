# The host build: the program's own code over our registry, the host program
# and the tests.
option(REGSWITCH_SANITIZE "Build with AddressSanitizer and UBSan" OFF)

add_compile_options(-Wall -Wextra)
if(REGSWITCH_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(regswitch_core STATIC ${REGSWITCH_CORE_SOURCES})
# The program's own code keeps to what a C-runtime-free Win32 build allows.
target_compile_options(regswitch_core PRIVATE -fno-exceptions -fno-rtti)

add_library(regswitch_host STATIC
  src/registry/host_registry.cpp
  src/registry/reg_file.cpp
  src/registry/storage.cpp
  src/registry/creg_file.cpp
  src/registry/host_program.cpp
)
target_link_libraries(regswitch_host PUBLIC regswitch_core)
# The core calls into the host registry and back; link them as one group.
target_link_libraries(regswitch_core PUBLIC regswitch_host)

add_executable(regswitch src/registry/regswitch_main.cpp)
target_link_libraries(regswitch PRIVATE regswitch_host)

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
