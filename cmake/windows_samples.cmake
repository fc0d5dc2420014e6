# The sample installer that the demonstration and the end-to-end tests pack
# into temporary-mode archives. An ordinary MinGW program (C runtime and all):
# it is a guest of the stub, not part of it.
add_executable(sample-installer WIN32 ${CMAKE_SOURCE_DIR}/samples/installer/sample_installer.cpp)
target_compile_options(sample-installer PRIVATE -O2 -Wall)
target_link_options(sample-installer PRIVATE -static -s)

# Marker DLLs for the DLL-planting tests: one source built under the name of
# every DLL that a planted copy could stand in for. Each writes a marker file
# beside itself when it is loaded. Left out are the DLLs that Wine itself
# loads by name before a program's first instruction (kernelbase, msvcrt,
# ucrtbase, sechost, zlib1, version, imm32) and those that Wine's own imm32
# pulls in later by name (ole32, combase, rpcrt4); on Windows the loader takes
# all of them from the system folder (known DLLs) or never loads them for us.
set(VALKRIN_MARKER_DLLS
    comctl32 uxtheme dwmapi cryptbase msctf oleaut32 shell32 shlwapi shcore winmm userenv
    profapi sspicli apphelp propsys textinputframework coremessaging windows.storage)
foreach(name ${VALKRIN_MARKER_DLLS})
    add_library(marker-${name} SHARED ${CMAKE_SOURCE_DIR}/samples/marker_dll/marker_dll.cpp)
    target_compile_options(marker-${name} PRIVATE -O2 -Wall -ffreestanding -fno-exceptions)
    target_link_options(marker-${name} PRIVATE -nostdlib -s -Wl,--entry,_MarkerDllMain@12 -Wl,--kill-at)
    target_link_libraries(marker-${name} PRIVATE kernel32)
    set_target_properties(marker-${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name} SUFFIX ".dll"
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/markers)
endforeach()
string(REPLACE ";" "\n" VALKRIN_MARKER_LIST "${VALKRIN_MARKER_DLLS}")
file(WRITE ${CMAKE_BINARY_DIR}/markers/names.txt "${VALKRIN_MARKER_LIST}\n")

add_executable(marker-probe ${CMAKE_SOURCE_DIR}/samples/marker_dll/marker_probe.cpp)
target_compile_options(marker-probe PRIVATE -O2 -Wall)
target_link_options(marker-probe PRIVATE -static -s)
