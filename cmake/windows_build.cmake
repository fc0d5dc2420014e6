# The product: valkrin.exe, a 32-bit GUI executable with its own entry point
# and no C runtime. It imports only from the system DLLs that every target
# Windows has.
enable_language(RC)

# The same sources give the same bytes wherever and whenever they are built:
# no link time stamp in the PE header, no source or build folder in the
# object files. The checksum that the layout step writes covers only these
# fixed bytes. Every Windows program of this build gets the same.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
                    $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>)
add_link_options(-Wl,--no-insert-timestamp)

add_executable(valkrin WIN32 ${PRODUCT_SOURCES} ${FORMAT_SOURCES} ${CMAKE_SOURCE_DIR}/src/res/valkrin.rc)
# valkrin-pack.exe links the format library (made before this file is read):
# built for speed like the rest of it, and with the same fixed paths.
target_compile_options(valkrin_format PRIVATE -O2 -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                       -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
target_include_directories(valkrin PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(valkrin PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Oz -malign-data=abi -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -fno-tree-loop-distribute-patterns -fno-threadsafe-statics -ffunction-sections -Wall -Wextra
    -Wno-unused-parameter -Wno-cast-function-type>)
target_compile_definitions(valkrin PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0400 WINVER=0x0400)

# The header layout leaves room for six section headers before 0x600. Nothing
# unwinds, so the unwind tables that libgcc's helpers bring are dropped, and
# the image always loads at its preferred base, so it needs no relocations.
set(VALKRIN_LINK_SCRIPT ${CMAKE_BINARY_DIR}/valkrin-discard.ld)
file(WRITE ${VALKRIN_LINK_SCRIPT} "SECTIONS\n{\n  /DISCARD/ : { *(.eh_frame*) }\n}\nINSERT BEFORE .text;\n")
target_link_options(valkrin PRIVATE -nostdlib -nostartfiles -s -Wl,--gc-sections -Wl,--entry,_StubEntry@0
    -Wl,--enable-stdcall-fixup -static-libgcc -Wl,--disable-reloc-section
    -Wl,--disable-dynamicbase -Wl,-T,${VALKRIN_LINK_SCRIPT})
set_property(TARGET valkrin APPEND PROPERTY LINK_DEPENDS ${VALKRIN_LINK_SCRIPT})
target_link_libraries(valkrin PRIVATE kernel32 user32 gdi32 advapi32 comctl32 gcc)
set_target_properties(valkrin PROPERTIES OUTPUT_NAME valkrin)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/res/valkrin.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/src/res/valkrin.ico ${CMAKE_SOURCE_DIR}/src/res/valkrin.manifest
    ${CMAKE_SOURCE_DIR}/src/res/messages.def ${CMAKE_SOURCE_DIR}/src/res/messages_en.def
    ${CMAKE_SOURCE_DIR}/src/res/resource.h)

# The post-link layout tool runs on the build machine, so it is compiled with
# the host's compiler, not the cross compiler.
find_program(VALKRIN_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
set(VALKRIN_LAYOUT_TOOL ${CMAKE_BINARY_DIR}/host-tools/valkrin-layout)
set(VALKRIN_LAYOUT_SOURCES
    ${CMAKE_SOURCE_DIR}/tools/layout/valkrin_layout_main.cpp
    ${CMAKE_SOURCE_DIR}/tools/layout/layout.cpp
    ${CMAKE_SOURCE_DIR}/tools/files/pe_image.cpp
    ${CMAKE_SOURCE_DIR}/tools/files/host_fs_posix.cpp)
add_custom_command(OUTPUT ${VALKRIN_LAYOUT_TOOL}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host-tools
    COMMAND ${VALKRIN_HOST_CXX} -std=c++17 -O2 -I${CMAKE_SOURCE_DIR}/tools ${VALKRIN_LAYOUT_SOURCES}
            -o ${VALKRIN_LAYOUT_TOOL}
    DEPENDS ${VALKRIN_LAYOUT_SOURCES} ${CMAKE_SOURCE_DIR}/tools/layout/layout.h
            ${CMAKE_SOURCE_DIR}/tools/files/pe_image.h ${CMAKE_SOURCE_DIR}/tools/files/host_fs.h
    COMMENT "Building the post-link layout tool with the host compiler")
add_custom_target(layout-tool DEPENDS ${VALKRIN_LAYOUT_TOOL})
add_dependencies(valkrin layout-tool)

# Size limits of the stub: it must stay below the ceiling, one 512-byte step
# above the 39936 bytes it has reached (and in any case below 0xAA00, where
# builders put the archive); 28 KiB is the aim.
set(VALKRIN_STUB_LIMIT 40448)
set(VALKRIN_STUB_TARGET 28672)
add_custom_command(TARGET valkrin POST_BUILD
    COMMAND ${VALKRIN_LAYOUT_TOOL} $<TARGET_FILE:valkrin> ${VALKRIN_STUB_LIMIT} ${VALKRIN_STUB_TARGET}
    COMMENT "Header layout and size report of valkrin.exe"
    VERBATIM)

# The end-to-end tests' UI driver: runs the stub under Wine, records every
# dialog and message box and answers them by script. A plain console program
# with the C runtime; it is never shipped.
add_executable(ui-driver ${CMAKE_SOURCE_DIR}/tests/e2e/ui_driver/ui_driver.cpp)
target_compile_options(ui-driver PRIVATE -Wall -Wextra)
target_link_options(ui-driver PRIVATE -static)
target_link_libraries(ui-driver PRIVATE user32 gdi32 advapi32 shell32)
# Its hook into the program under test, which records the progress bar.
add_library(ui-driver-hook SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/ui_driver/progress_hook.cpp)
set_target_properties(ui-driver-hook PROPERTIES PREFIX "")
target_compile_options(ui-driver-hook PRIVATE -Wall -Wextra)
target_link_options(ui-driver-hook PRIVATE -static -Wl,--kill-at)
target_link_libraries(ui-driver-hook PRIVATE user32)
add_dependencies(ui-driver ui-driver-hook)

# Reads a file's version information through the system's own calls, for the
# test of the publisher's version fields. Never shipped.
add_executable(version-probe ${CMAKE_SOURCE_DIR}/tests/e2e/version_probe/version_probe.cpp)
target_compile_options(version-probe PRIVATE -Wall -Wextra)
target_link_options(version-probe PRIVATE -static)
target_link_libraries(version-probe PRIVATE version)

# valkrin-pack.exe, the archive builder for Windows users, with this build's
# valkrin.exe inside.
add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${CMAKE_BINARY_DIR}/tools)

# The stub's decoder as a console benchmark (valkrin-decode-bench.exe), built
# only when asked for.
add_subdirectory(${CMAKE_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench EXCLUDE_FROM_ALL)

# The decoder's hot loop needs every register i686 has: its files keep no
# frame pointer, and the stretch of symbols without tests (one function) is
# compiled for speed; in the stub and in its benchmark alike.
file(GLOB VALKRIN_DECODER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/decode/*.cpp)
set_source_files_properties(${VALKRIN_DECODER_SOURCES} DIRECTORY ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/bench
                            PROPERTIES COMPILE_OPTIONS "-fomit-frame-pointer;-Os")
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/decode/block_stretch.cpp
                            DIRECTORY ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/bench
                            PROPERTIES COMPILE_OPTIONS "-fomit-frame-pointer;-O2")
