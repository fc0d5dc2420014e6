# The product: valkrin.exe, a 32-bit GUI executable with its own entry point
# and no C runtime. It imports only from the system DLLs that every target
# Windows has.
enable_language(RC)

add_executable(valkrin WIN32 ${PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/res/valkrin.rc)
target_include_directories(valkrin PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(valkrin PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -fno-tree-loop-distribute-patterns -fno-threadsafe-statics -Wall -Wextra
    -Wno-unused-parameter -Wno-cast-function-type>)
target_compile_definitions(valkrin PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0400 WINVER=0x0400)
target_link_options(valkrin PRIVATE -nostdlib -nostartfiles -s -Wl,--entry,_StubEntry@0
    -Wl,--enable-stdcall-fixup -static-libgcc)
target_link_libraries(valkrin PRIVATE kernel32 user32 gdi32 advapi32 comctl32 gcc)
set_target_properties(valkrin PROPERTIES OUTPUT_NAME valkrin)
