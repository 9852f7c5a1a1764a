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

# The logic suite, as on Linux, without the tests of the Linux platform layer.
file(GLOB_RECURSE unit_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
list(FILTER unit_src EXCLUDE REGEX "/(integration|gui|win32|platform)/")
list(APPEND unit_src ${CMAKE_CURRENT_SOURCE_DIR}/platform/ini_document_test.cpp)
add_executable(zuvo_tests ${unit_src})
target_include_directories(zuvo_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zuvo_tests PRIVATE zuvo_logic zuvo_sim zuvo_platform_fake gtest gmock
                                         gtest_main)
gtest_discover_tests(zuvo_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     PROPERTIES LABELS unit)

