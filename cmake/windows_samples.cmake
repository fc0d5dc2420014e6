# The sample installer that the demonstration and the end-to-end tests pack
# into temporary-mode archives. An ordinary MinGW program (C runtime and all):
# it is a guest of the stub, not part of it.
add_executable(sample-installer WIN32 ${CMAKE_SOURCE_DIR}/samples/installer/sample_installer.cpp)
target_compile_options(sample-installer PRIVATE -O2 -Wall)
target_link_options(sample-installer PRIVATE -static -s)
