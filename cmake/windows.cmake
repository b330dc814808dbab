# regswitch.exe: the program's own code for Windows 95 and later, with our own
# entry point instead of a C runtime, importing only from kernel32, user32
# and advapi32.

add_executable(regswitch_exe WIN32
  ${REGSWITCH_CORE_SOURCES}
  src/win32/startup.cpp
  src/win32/runtime.cpp
)
set_target_properties(regswitch_exe PROPERTIES OUTPUT_NAME regswitch)

target_compile_options(regswitch_exe PRIVATE
  -Wall -Wextra
  # Small, and nothing newer than the 386.
  -Os -march=i386 -mtune=i386 -mpreferred-stack-boundary=2
  # No C runtime: no exceptions, RTTI, unwind tables, guards or probes.
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-stack-check
  -mno-stack-arg-probe -fno-ident
  -ffunction-sections -fdata-sections
  # GCC would turn byte loops into calls to memset, memcpy or strlen, which
  # no library supplies here (and memset and memcpy into calls to themselves).
  -fno-tree-loop-distribute-patterns
)

# The default Windows libraries would come back in through CMake otherwise.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
target_link_options(regswitch_exe PRIVATE
  -nostdlib -s
  -Wl,--entry,_RegSwitchStartup
  -Wl,--gc-sections
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4,--minor-os-version,0
  -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
  -Wl,--file-alignment,512,--section-alignment,4096
  # Windows 95 loads an .exe at its preferred base; relocations and the
  # newer loader flags would only add bytes.
  -Wl,--disable-dynamicbase,--disable-nxcompat,--disable-reloc-section
  -Wl,--no-insert-timestamp
)
target_link_libraries(regswitch_exe PRIVATE kernel32 user32 advapi32)

# Every build reports the size that the tests hold to 4,096 bytes.
add_custom_target(regswitch_exe_size ALL
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:regswitch_exe>
          -P ${PROJECT_SOURCE_DIR}/cmake/print-size.cmake
  DEPENDS regswitch_exe
  VERBATIM)

# Test tool for the Wine runs, with the usual C runtime; it never ships.
add_executable(regswitch_launch tests/windows/launch.cpp)
set_target_properties(regswitch_launch PROPERTIES OUTPUT_NAME launch)
target_compile_options(regswitch_launch PRIVATE -Wall -Wextra -O2)
target_link_options(regswitch_launch PRIVATE -static)
target_link_libraries(regswitch_launch PRIVATE kernel32)

# The download for Windows: regswitch.exe, a short text and the MIT licence,
# both with Windows line endings, zipped (cpack --preset windows-zip).
configure_file(docs/windows-readme.txt.in ${PROJECT_BINARY_DIR}/README.TXT
               @ONLY NEWLINE_STYLE CRLF)
configure_file(LICENSE ${PROJECT_BINARY_DIR}/LICENSE.TXT @ONLY NEWLINE_STYLE CRLF)
install(TARGETS regswitch_exe RUNTIME DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/README.TXT ${PROJECT_BINARY_DIR}/LICENSE.TXT
        DESTINATION .)
set(CPACK_PACKAGE_NAME regswitch)
set(CPACK_PACKAGE_VENDOR "Varnholt Software")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME regswitch-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
