# The host build: the program's own code over our registry, the host program
# and the tests. Libraries follow the folders, and link one way:
# cli -> show, formats -> files, registry; cli -> image -> files; core ->
# registry (the seam's host side).
option(REGSWITCH_SANITIZE "Build with AddressSanitizer and UBSan" OFF)

add_compile_options(-Wall -Wextra)
# Debian's hardening for the program that ships (lintian looks for it); the
# sanitizers bring checks of their own.
if(NOT REGSWITCH_SANITIZE)
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
endif()
if(REGSWITCH_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The in-memory registry and the seam's host implementation.
add_library(regswitch_registry STATIC
  src/host/registry/about_box.cpp
  src/host/registry/handles.cpp
  src/host/registry/key_tree.cpp
  src/host/registry/machine.cpp
  src/host/registry/names.cpp
  src/host/registry/registry_ops.cpp
  src/host/registry/value_store.cpp
)
target_include_directories(regswitch_registry PUBLIC src)

# The program's own code, over the seam.
add_library(regswitch_core STATIC ${REGSWITCH_CORE_SOURCES})
# It keeps to what a C-runtime-free Win32 build allows.
target_compile_options(regswitch_core PRIVATE -fno-exceptions -fno-rtti)
target_include_directories(regswitch_core PUBLIC src)
target_link_libraries(regswitch_core PUBLIC regswitch_registry)

# Reading and safely replacing files.
add_library(regswitch_files STATIC
  src/host/files/fault_guard.cpp
  src/host/files/file_bytes.cpp
  src/host/files/locked_file.cpp
  src/host/files/printable.cpp
  src/host/files/read_file.cpp
  src/host/files/replace_file.cpp
  src/host/files/system_calls.cpp
)
target_include_directories(regswitch_files PUBLIC src)

# The registry file formats: .reg exports and Windows 9x CREG files.
add_library(regswitch_formats STATIC
  src/host/formats/changes.cpp
  src/host/formats/open_file.cpp
  src/host/formats/registry_file.cpp
  src/host/formats/reg/codepage.cpp
  src/host/formats/reg/decode.cpp
  src/host/formats/reg/import_reader.cpp
  src/host/formats/reg/key_line.cpp
  src/host/formats/reg/reg_file.cpp
  src/host/formats/reg/reg_loader.cpp
  src/host/formats/reg/reg_text.cpp
  src/host/formats/reg/render.cpp
  src/host/formats/reg/splice.cpp
  src/host/formats/reg/text.cpp
  src/host/formats/reg/statement.cpp
  src/host/formats/creg/blocks.cpp
  src/host/formats/creg/checksums.cpp
  src/host/formats/creg/creg_file.cpp
  src/host/formats/creg/loader.cpp
  src/host/formats/creg/node_table.cpp
  src/host/formats/creg/writer.cpp
  src/host/formats/merge/merge.cpp
)
target_link_libraries(regswitch_formats PUBLIC regswitch_files regswitch_registry)

# Disk images: where Windows lies in one, and its SYSTEM.DAT read and
# written through mtools.
add_library(regswitch_image STATIC
  src/host/image/disk_layout.cpp
  src/host/image/image_file.cpp
  src/host/image/mtools.cpp
  src/host/image/stop_signals.cpp
  src/host/image/system_dat.cpp
  src/host/image/windows_folder.cpp
  src/host/image/work_folder.cpp
)
target_link_libraries(regswitch_image PUBLIC regswitch_files)

# --show: the settings' states, found by running the tweaks on and off.
add_library(regswitch_show STATIC
  src/host/show/settings.cpp
  src/host/show/settings_text.cpp
)
target_link_libraries(regswitch_show PUBLIC regswitch_core regswitch_formats)

# The host program's command line and run.
add_library(regswitch_cli STATIC
  src/host/cli/image_run.cpp
  src/host/cli/merge_run.cpp
  src/host/cli/options.cpp
  src/host/cli/registry_target.cpp
  src/host/cli/run.cpp
)
target_link_libraries(regswitch_cli PUBLIC regswitch_show regswitch_core
                      regswitch_formats regswitch_image)
# The one version, set in project().
target_compile_definitions(regswitch_cli PRIVATE
  REGSWITCH_VERSION="${PROJECT_VERSION}")

add_executable(regswitch src/host/cli/main.cpp)
target_link_libraries(regswitch PRIVATE regswitch_cli)

include(cmake/install.cmake)

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
