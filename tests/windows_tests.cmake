# The Windows build's tests, run under Wine through CMAKE_CROSSCOMPILING_EMULATOR. Test
# discovery runs when ctest starts (PRE_TEST), so building needs no Wine.

# GoogleTest built from source with the cross compiler; its own code is not held to our
# warning flags.
set(ZUVO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
get_directory_property(zuvo_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${ZUVO_GTEST_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${zuvo_saved_options}")
include(GoogleTest)

# The logic suite, as on Linux, without the tests of the Linux platform layer and of the
# benchmarks (they run on Linux only).
file(GLOB_RECURSE unit_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
list(FILTER unit_src EXCLUDE REGEX "/(integration|gui|win32|wine|umockdev|platform|bench)/")
list(APPEND unit_src ${CMAKE_CURRENT_SOURCE_DIR}/platform/ini_document_test.cpp)
add_executable(zuvo_tests ${unit_src})
target_include_directories(zuvo_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zuvo_tests PRIVATE zuvo_logic zuvo_sim zuvo_platform_fake gtest gmock
                                         gtest_main)
# One Wine process for the whole suite: starting one per test costs ten times the tests'
# own time, and every test runs one by one in the Linux stages anyway.
add_test(NAME zuvo_tests COMMAND zuvo_tests)
set_tests_properties(zuvo_tests PROPERTIES LABELS unit TIMEOUT 900)

# The Win32 platform layer against real system objects, and the programs end to end, each
# peer in a process of its own.
file(GLOB win32_test_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp)
add_executable(zuvo_win32_tests ${win32_test_src})
target_include_directories(zuvo_win32_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zuvo_win32_tests PRIVATE zuvo_logic zuvo_platform_win32 gtest)
add_dependencies(zuvo_win32_tests ZuvoBox ZuvoBoxUtility zuvobox-rtty)
gtest_discover_tests(zuvo_win32_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     PROPERTIES LABELS win32 TIMEOUT 120)

# Both windows in-process under Wine, clicked through on the simulated box, and the windowed
# programs' close box and screenshots. They need a
# display: the test runs on a private Xvfb, in a Wine desktop of its own so that its windows
# are drawn there whatever display the prefix's other programs use.
file(GLOB win32_gui_test_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/gui/*.cpp)
add_executable(zuvo_win32_gui_tests ${win32_gui_test_src}
                                    ${CMAKE_CURRENT_SOURCE_DIR}/win32/gui/dialogs_test.rc)
target_include_directories(zuvo_win32_gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zuvo_win32_gui_tests PRIVATE zuvo_gui_win32 zuvo_logic zuvo_sim
                                                   zuvo_platform_fake gtest gtest_main)
add_dependencies(zuvo_win32_gui_tests ZuvoBox ZuvoBoxUtility)
find_program(ZUVO_XVFB_RUN NAMES xvfb-run)
if(ZUVO_WINE AND ZUVO_XVFB_RUN)
  add_test(NAME zuvo_win32_gui_tests
           COMMAND ${ZUVO_XVFB_RUN} -a -s "-screen 0 1280x1024x24" ${ZUVO_WINE} explorer
                   /desktop=zuvo_gui_tests,1200x900
                   $<TARGET_FILE:zuvo_win32_gui_tests>)
  # Wine's desktop program does not hand on the test's exit code: the verdict is the
  # test's own summary (a crash prints none).
  set_tests_properties(zuvo_win32_gui_tests PROPERTIES LABELS win32 TIMEOUT 300
                       PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
                       FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endif()

# The COM ports, played from Linux: a pty is a Linux object, so this test is a Linux program,
# built with the host's compiler and GoogleTest, that runs ZuvoBox.exe under Wine.
find_program(ZUVO_HOST_CXX NAMES c++ g++ clang++)
if(ZUVO_HOST_CXX AND ZUVO_WINE)
  set(com_port_test ${CMAKE_CURRENT_BINARY_DIR}/wine_com_port_test)
  add_custom_command(
    OUTPUT ${com_port_test}
    COMMAND ${ZUVO_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Werror -I${CMAKE_CURRENT_SOURCE_DIR}
            -DZUVO_BIN_DIR="${CMAKE_BINARY_DIR}/src/app" -o ${com_port_test}
            ${CMAKE_CURRENT_SOURCE_DIR}/wine/com_port_test.cpp -lgtest -pthread
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/wine/com_port_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/integration/child_process.h
    VERBATIM)
  add_custom_target(host_wine_com_port_test ALL DEPENDS ${com_port_test})
  add_test(NAME WineComPort
           COMMAND ${com_port_test} ${ZUVO_WINE} $<TARGET_FILE:ZuvoBox>
                   $<TARGET_FILE:zuvo_win32_tests>)
  set_tests_properties(WineComPort
                       PROPERTIES LABELS win32 TIMEOUT 120)
endif()

# A Windows logger under Wine on the Linux ZuvoBox: a Windows serial client built here, on
# Wine COM ports that are links to the Linux program's ptys. The Linux ZuvoBox comes from the
# debug build beside this one (scripts/test.sh builds it first); without it the test is
# skipped.
add_executable(zuvo_wine_serial_logger ${CMAKE_CURRENT_SOURCE_DIR}/wine/serial_logger_win32.cpp)
set(ZUVO_LINUX_ZUVOBOX ${CMAKE_SOURCE_DIR}/build/debug/src/app/ZuvoBox
    CACHE FILEPATH "The Linux ZuvoBox that Windows loggers under Wine are tested against")
if(ZUVO_HOST_CXX AND ZUVO_WINE)
  set(wine_logger_test ${CMAKE_CURRENT_BINARY_DIR}/wine_logger_test)
  add_custom_command(
    OUTPUT ${wine_logger_test}
    COMMAND ${ZUVO_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Werror -I${CMAKE_CURRENT_SOURCE_DIR}
            -DZUVO_BIN_DIR="" -o ${wine_logger_test}
            ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine_logger_test.cpp
            -lgtest -pthread
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine_logger_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/integration/child_process.h
            ${CMAKE_CURRENT_SOURCE_DIR}/integration/pty_client.h
    VERBATIM)
  add_custom_target(host_wine_logger_test ALL DEPENDS ${wine_logger_test})
  add_test(NAME WineLogger.WindowsSerialClientKeysAndSwitchesThroughTheLinuxPtys
           COMMAND ${wine_logger_test} ${ZUVO_WINE} ${ZUVO_LINUX_ZUVOBOX}
                   $<TARGET_FILE:zuvo_wine_serial_logger>)
  set_tests_properties(WineLogger.WindowsSerialClientKeysAndSwitchesThroughTheLinuxPtys
                       PROPERTIES LABELS win32 TIMEOUT 120 SKIP_RETURN_CODE 77)
endif()
