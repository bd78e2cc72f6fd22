# Windows build (mingw-w64): the program, statically linked, and the Windows tests run under Wine.
enable_language(RC)
enable_testing()

add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
# Sources are UTF-8; string literals become Shift-JIS, as the ANSI API expects.
set(KELVARO_WARNINGS -Wall -Wextra -Wno-cast-function-type -Wno-unused-local-typedefs)
set(KELVARO_CHARSET -finput-charset=UTF-8 -fexec-charset=CP932)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KELVARO_ICON ${CMAKE_BINARY_DIR}/res/Kelvaro.ico)
add_custom_command(OUTPUT ${KELVARO_ICON}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_icon.py ${KELVARO_ICON}
    DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py
    COMMENT "Drawing the application icon")
set(KELVARO_RING ${CMAKE_BINARY_DIR}/res/ring.wav)
add_custom_command(OUTPUT ${KELVARO_RING}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_ring.py ${KELVARO_RING}
    DEPENDS ${CMAKE_SOURCE_DIR}/res/make_ring.py
    COMMENT "Drawing the ring")
add_custom_target(kelvaro_icon DEPENDS ${KELVARO_ICON} ${KELVARO_RING})

add_library(kelvaro_res OBJECT res/Kelvaro.rc)
target_include_directories(kelvaro_res PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/res)
add_dependencies(kelvaro_res kelvaro_icon)
set_source_files_properties(res/Kelvaro.rc PROPERTIES
    OBJECT_DEPENDS "${KELVARO_ICON};${KELVARO_RING};${CMAKE_SOURCE_DIR}/res/Kelvaro.manifest")

# Secure calls: libgcrypt from Debian's libgcrypt-mingw-w64-dev, linked as its DLL (it is LGPL)
# while everything else stays static: the import library by its full path, since -static would
# pick the static archive beside it. The DLL and the libgpg-error DLL it needs go beside the
# executables, without their debugging sections.
find_library(KELVARO_GCRYPT NAMES libgcrypt.dll.a REQUIRED)
get_filename_component(_gcrypt_bin ${KELVARO_GCRYPT} DIRECTORY)
set(_gcrypt_bin ${_gcrypt_bin}/../bin)
foreach(dll libgcrypt-20.dll libgpg-error-0.dll)
    if(NOT EXISTS ${_gcrypt_bin}/${dll})
        message(FATAL_ERROR "${dll} not found in ${_gcrypt_bin} (libgcrypt-mingw-w64-dev, libgpg-error-mingw-w64-dev)")
    endif()
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${dll}
        COMMAND ${CMAKE_STRIP} --strip-debug -o ${CMAKE_BINARY_DIR}/${dll} ${_gcrypt_bin}/${dll}
        DEPENDS ${_gcrypt_bin}/${dll}
        COMMENT "Copying ${dll} beside the executables")
    list(APPEND KELVARO_DLLS ${CMAKE_BINARY_DIR}/${dll})
endforeach()
add_custom_target(kelvaro_dlls ALL DEPENDS ${KELVARO_DLLS})

# The core's portable files, shared by the program, the tests and the bench driver.
include(cmake/sources.cmake)
add_library(kelvaro_portable STATIC ${KELVARO_PORTABLE_SOURCES})
target_include_directories(kelvaro_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelvaro_portable PUBLIC ${KELVARO_WARNINGS} ${KELVARO_CHARSET})
target_link_libraries(kelvaro_portable PUBLIC ${KELVARO_GCRYPT})

# Everything but the entry point and the application object, shared by the program and tests.
add_library(kelvaro_core STATIC
    platform/afxwin.cpp
    platform/afxdlg.cpp
    platform/afxctl.cpp
    platform/afxgdi.cpp
    platform/afxmenu.cpp
    platform/afxsock.cpp
    call/CallSocket.cpp
    call/LineList.cpp
    call/CallDriver.cpp
    call/CallControl.cpp
    app/PhoneDlg.cpp
    app/Settings.cpp
    phonebook/Phonebook.cpp
    phonebook/PhonebookEntries.cpp
    phonebook/NameDlg.cpp
    phonebook/Nearby.cpp
    ui/ShapedDialog.cpp
    ui/RoundButton.cpp
    ui/TrayIcon.cpp
    ui/TrayMenu.cpp
    ui/AboutDlg.cpp
    ui/WindowShape.cpp
    ui/DisplayScale.cpp
    ui/LinkStatic.cpp
    app/Paths.cpp
    app/ConversationLog.cpp
    app/MissedCalls.cpp
    app/NoticeSettings.cpp
    app/CallJournal.cpp
    ui/Notifier.cpp
    call/ErrorText.cpp
    ui/MissedCallsDlg.cpp
    ui/Notices.cpp
    ui/Sound.cpp
    app/AwaySettings.cpp
    app/MessageStore.cpp
    ui/MessagesDlg.cpp
    ui/Messages.cpp
    app/SingleInstance.cpp
    app/StartWithWindows.cpp
    ui/Contrast.cpp
    ui/FocusKeeper.cpp
    ui/Accessibility.cpp
    ui/AccessControl.cpp
    app/Trust.cpp
    app/FileText.cpp
    ui/VerifiedDlg.cpp)
target_include_directories(kelvaro_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelvaro_core PUBLIC ${KELVARO_WARNINGS} ${KELVARO_CHARSET})
target_link_libraries(kelvaro_core PUBLIC kelvaro_portable ws2_32 iphlpapi shell32 winmm gdi32 user32 advapi32 kernel32 comctl32 ole32
    crypt32)
target_link_options(kelvaro_core PUBLIC -static -static-libgcc -static-libstdc++)
add_dependencies(kelvaro_core kelvaro_dlls)

add_executable(Kelvaro WIN32 platform/appmain.cpp app/PhoneApp.cpp $<TARGET_OBJECTS:kelvaro_res>)
target_link_libraries(Kelvaro PRIVATE kelvaro_core)

# Looks at the program's windows for the installer's end-to-end test.
add_executable(window_probe tests/e2e/window_probe.cpp)
target_link_options(window_probe PRIVATE -static -static-libgcc -static-libstdc++)

# The two documents go beside the program in Shift-JIS with CRLF line ends.
foreach(doc readme history)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${doc}.txt
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/convert_doc.sh ${CMAKE_SOURCE_DIR}/docs/${doc}.txt ${CMAKE_BINARY_DIR}/${doc}.txt
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/${doc}.txt ${CMAKE_SOURCE_DIR}/scripts/convert_doc.sh
        COMMENT "Converting ${doc}.txt to Shift-JIS")
    list(APPEND KELVARO_DOCS ${CMAKE_BINARY_DIR}/${doc}.txt)
endforeach()
add_custom_target(kelvaro_docs ALL DEPENDS ${KELVARO_DOCS})

# GoogleTest built with the same toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
# KELVARO_TEST_FILTER (a regular expression) builds only the matching test files, plus the
# shared ones: handy while several test files are being written at once.
set(KELVARO_TEST_FILTER "" CACHE STRING "Build only the Windows test files matching this regex")
if(KELVARO_TEST_FILTER)
    list(FILTER WIN_TEST_SOURCES INCLUDE REGEX "(test_main|test_util|${KELVARO_TEST_FILTER})")
endif()
add_executable(win_tests ${WIN_TEST_SOURCES} $<TARGET_OBJECTS:kelvaro_res>)
target_link_libraries(win_tests PRIVATE kelvaro_core gtest psapi oleacc oleaut32)
add_test(NAME win_tests COMMAND win_tests --gtest_color=no)
set_tests_properties(win_tests PROPERTIES TIMEOUT 900)

# Screenshots of the windows on a real display (scripts/screenshots.sh); not part of the tests.
add_executable(win_shots tests/shots/shots_test.cpp tests/win/test_util.cpp $<TARGET_OBJECTS:kelvaro_res>)
target_link_libraries(win_shots PRIVATE kelvaro_core gtest)

# The receive benchmark (make bench, scripts/bench.sh): a naive window to measure the program
# against and the driver that measures both. Built only on request.
add_executable(bench_naive WIN32 EXCLUDE_FROM_ALL tests/bench/naive_window.cpp tests/bench/naive.rc)
add_executable(bench_driver EXCLUDE_FROM_ALL tests/bench/bench_driver.cpp)
target_link_libraries(bench_naive PRIVATE ws2_32)
# The driver speaks the secure protocol for the encrypted flood, with the program's own module.
target_include_directories(bench_driver PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bench_driver PRIVATE kelvaro_portable ws2_32 psapi)
add_dependencies(bench_driver kelvaro_dlls)
foreach(t bench_naive bench_driver)
    target_compile_options(${t} PRIVATE ${KELVARO_WARNINGS})
    target_link_options(${t} PRIVATE -static -static-libgcc -static-libstdc++)
endforeach()

# The nearby tests' driver (scripts/nearby_test.sh): reads and drives the program's windows from
# a process of its own. Built only on request.
add_executable(nearby_driver EXCLUDE_FROM_ALL tests/nearby/nearby_driver.cpp)
target_compile_options(nearby_driver PRIVATE ${KELVARO_WARNINGS})
target_link_options(nearby_driver PRIVATE -static -static-libgcc -static-libstdc++)
