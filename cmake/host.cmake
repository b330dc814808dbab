# The host build: the program's own code over our registry, the host program
# and the tests. Libraries follow the folders, and link one way: cli ->
# session, image; session -> show, program, formats, files; formats ->
# files, registry; program -> core, registry; files, image -> platform.
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

# The host side's one seam to the operating system: system calls and
# signals.
add_library(regswitch_platform STATIC
  src/host/platform/printable.cpp
  src/host/platform/processes.cpp
  src/host/platform/real_platform.cpp
  src/host/platform/signals.cpp
)
target_include_directories(regswitch_platform PUBLIC src)

# The in-memory registry and the seam's host implementation. The program's
# own code calls the seam; on the host this library answers it, as advapi32
# does on Windows.
add_library(regswitch_registry STATIC
  src/host/registry/about_box.cpp
  src/host/registry/handles.cpp
  src/host/registry/key_tree.cpp
  src/host/registry/machine.cpp
  src/host/registry/names.cpp
  src/host/registry/registry_ops.cpp
  src/host/registry/string_rules.cpp
  src/host/registry/value_store.cpp
)
target_include_directories(regswitch_registry PUBLIC src)

# The program's own code. It keeps to what a C-runtime-free Win32 build
# allows, and links nothing: whoever runs it supplies the seam.
add_library(regswitch_core STATIC ${REGSWITCH_CORE_SOURCES})
target_compile_options(regswitch_core PRIVATE -fno-exceptions -fno-rtti)
target_include_directories(regswitch_core PUBLIC src)

# The program run on the host: WinMain over our registry. Core first, so
# that the seam it calls is found in the registry behind it.
add_library(regswitch_program STATIC src/host/program/program.cpp
  src/host/program/switch_text.cpp)
target_link_libraries(regswitch_program PUBLIC regswitch_core
                      regswitch_registry)

# Reading, locking and safely replacing files.
add_library(regswitch_files STATIC
  src/host/files/checksum.cpp
  src/host/files/file_bytes.cpp
  src/host/files/locked_file.cpp
  src/host/files/replace_file.cpp
)
target_link_libraries(regswitch_files PUBLIC regswitch_platform)

# The registry file formats: .reg exports and Windows 9x CREG files, and
# merging .reg files into them.
add_library(regswitch_formats STATIC
  src/host/formats/changes.cpp
  src/host/formats/export.cpp
  src/host/formats/file_kind.cpp
  src/host/formats/pick_format.cpp
  src/host/formats/registry_file.cpp
  src/host/formats/reg/codepage.cpp
  src/host/formats/reg/decode.cpp
  src/host/formats/reg/importer.cpp
  src/host/formats/reg/index.cpp
  src/host/formats/reg/key_line.cpp
  src/host/formats/reg/line_ends.cpp
  src/host/formats/reg/reg_format.cpp
  src/host/formats/reg/reg_text.cpp
  src/host/formats/reg/render.cpp
  src/host/formats/reg/splice.cpp
  src/host/formats/reg/statement.cpp
  src/host/formats/reg/syntax.cpp
  src/host/formats/creg/blocks.cpp
  src/host/formats/creg/checksums.cpp
  src/host/formats/creg/creg_format.cpp
  src/host/formats/creg/limits.cpp
  src/host/formats/creg/loader.cpp
  src/host/formats/creg/node_table.cpp
  src/host/formats/creg/windows_version.cpp
  src/host/formats/creg/writer.cpp
  src/host/formats/merge/merge.cpp
)
target_link_libraries(regswitch_formats PUBLIC regswitch_files
                      regswitch_registry)

# --show: the settings' states, found by running the tweaks on and off.
add_library(regswitch_show STATIC
  src/host/show/settings.cpp
  src/host/show/settings_text.cpp
)
target_link_libraries(regswitch_show PUBLIC regswitch_program
                      regswitch_formats)

# One run over registries: open, merge, switch, describe, save.
add_library(regswitch_session STATIC
  src/host/session/messages.cpp
  src/host/session/session.cpp
  src/host/session/store.cpp
  src/host/session/switch_report.cpp
)
target_link_libraries(regswitch_session PUBLIC regswitch_show
                      regswitch_program regswitch_formats regswitch_files)

# Disk images: where Windows lies in one, and its SYSTEM.DAT read and
# written through mtools.
add_library(regswitch_image STATIC
  src/host/image/block_device.cpp
  src/host/image/disk_format.cpp
  src/host/image/disk_layout.cpp
  src/host/image/fat_volume.cpp
  src/host/image/image_disk.cpp
  src/host/image/image_file.cpp
  src/host/image/mtools.cpp
  src/host/image/programs.cpp
  src/host/image/read_guard.cpp
  src/host/image/system_dat.cpp
  src/host/image/volume_copy.cpp
  src/host/image/volume_files.cpp
  src/host/image/windows_folder.cpp
  src/host/image/work_folder.cpp
)
target_link_libraries(regswitch_image PUBLIC regswitch_platform)

# The host program's command line and its runs.
add_library(regswitch_cli STATIC
  src/host/cli/file_run.cpp
  src/host/cli/image_run.cpp
  src/host/cli/options.cpp
  src/host/cli/run.cpp
  src/host/cli/validate.cpp
)
target_link_libraries(regswitch_cli PUBLIC regswitch_session regswitch_image)
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
