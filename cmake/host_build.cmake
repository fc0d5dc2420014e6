# The host build: the product sources over the POSIX platform layer, as a
# library for tests, fuzzers and benchmarks and as the console program
# valkrin-host.
option(VALKRIN_SANITIZE "Build with the address and undefined-behaviour sanitizers" ON)

set(HOST_LAYER_SOURCES
    ${CMAKE_SOURCE_DIR}/src/platform/posix/host_system.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/posix/host_files.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/posix/host_ui.cpp)
file(GLOB HOST_LAYER_EXTRA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/posix/host_*.cpp)
list(REMOVE_ITEM HOST_LAYER_EXTRA ${CMAKE_SOURCE_DIR}/src/platform/posix/host_main.cpp)
list(APPEND HOST_LAYER_SOURCES ${HOST_LAYER_EXTRA})
list(REMOVE_DUPLICATES HOST_LAYER_SOURCES)

if(VALKRIN_SANITIZE)
    target_compile_options(valkrin_format PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(valkrin_format PUBLIC -fsanitize=address,undefined)
endif()

add_library(valkrin_core STATIC ${PRODUCT_SOURCES} ${HOST_LAYER_SOURCES})
target_include_directories(valkrin_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(valkrin_core PUBLIC valkrin_format)
target_compile_options(valkrin_core PUBLIC -Wall -Wextra -Wno-unused-parameter)
if(VALKRIN_SANITIZE)
    target_compile_options(valkrin_core PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
    target_link_options(valkrin_core PUBLIC -fsanitize=address,undefined)
endif()

add_executable(valkrin-host ${CMAKE_SOURCE_DIR}/src/platform/posix/host_main.cpp)
target_link_libraries(valkrin-host PRIVATE valkrin_core)

enable_testing()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
    add_subdirectory(tools)
endif()
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
    add_subdirectory(bench)
endif()
