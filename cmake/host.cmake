# Host build (Linux g++): the code that needs no Win32, tested with AddressSanitizer and
# UndefinedBehaviorSanitizer.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(KELVARO_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

include(cmake/sources.cmake)
add_library(kelvaro_portable STATIC ${KELVARO_PORTABLE_SOURCES})
target_include_directories(kelvaro_portable PUBLIC ${CMAKE_SOURCE_DIR})
# Secure calls: Debian's libgcrypt20-dev.
find_path(GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
find_library(GCRYPT_LIBRARY gcrypt REQUIRED)
target_include_directories(kelvaro_portable SYSTEM PUBLIC ${GCRYPT_INCLUDE_DIR})
target_link_libraries(kelvaro_portable PUBLIC ${GCRYPT_LIBRARY})
target_compile_options(kelvaro_portable PUBLIC -Wall -Wextra -g ${KELVARO_SANITIZE})
target_link_options(kelvaro_portable PUBLIC ${KELVARO_SANITIZE})

file(GLOB HOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/*.cpp)
add_executable(host_tests ${HOST_TEST_SOURCES})
target_link_libraries(host_tests PRIVATE kelvaro_portable GTest::gtest_main)
gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60)
