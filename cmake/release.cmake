# Release files: `cmake --install` puts valkrin-pack (the windows build:
# valkrin-pack.exe and valkrin.exe) with the README under the prefix; CPack
# makes valkrin-VERSION-linux.tar.gz from a host build and
# valkrin-VERSION-win32.zip from the windows build (scripts/release.sh).
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VALKRIN_DOC_DIR})
# Installing takes what is built; it does not build every test and benchmark
# first (scripts/release.sh builds the programs it ships).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME valkrin)
set(CPACK_PACKAGE_VENDOR "Valkrin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Self-extracting LZH installers for 32-bit Windows, and their builder")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win32)
else()
    set(CPACK_GENERATOR TGZ)
    set(CPACK_SYSTEM_NAME linux)
endif()
include(CPack)
