# Native (Linux) tree: the portable logic against fakes, under GoogleTest.
find_package(GTest REQUIRED)
add_compile_options(-Wall -Wextra -g)

add_library(worker_core STATIC ${WORKER_SOURCES})
target_include_directories(worker_core PUBLIC ${CMAKE_SOURCE_DIR})
add_library(service_core STATIC service/commands.cpp service/service_control.cpp)
target_link_libraries(service_core PUBLIC worker_core)
add_library(setup_core STATIC setup/rules.cpp setup/modes.cpp)
target_include_directories(setup_core PUBLIC ${CMAKE_SOURCE_DIR})
# setup's command-line rows hold Japanese text, stored as code page 932.
set_source_files_properties(tests/unit/setup_rules_test.cpp PROPERTIES
    COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP932")

enable_testing()
add_executable(unit_tests
    tests/unit/fake_platform.cpp
    tests/unit/fake_scm.cpp
    tests/unit/fake_setup_os.cpp
    tests/unit/setup_modes_test.cpp
    tests/unit/setup_rules_test.cpp
    tests/unit/commands_test.cpp
    tests/unit/service_control_test.cpp
    tests/unit/messages_test.cpp
    tests/unit/settings_test.cpp
    tests/unit/update_cycle_test.cpp
    tests/unit/provider_settings_test.cpp
    tests/unit/provider_answer_test.cpp
    tests/unit/worker_loop_test.cpp
    tests/unit/local_address_test.cpp
    tests/unit/address_test.cpp
    tests/unit/settings_file_test.cpp)
target_compile_definitions(unit_tests PRIVATE
    SOURCE_DIR="${CMAKE_SOURCE_DIR}")
set_source_files_properties(tests/unit/messages_test.cpp tests/unit/setup_modes_test.cpp PROPERTIES
    COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP932")
target_link_libraries(unit_tests PRIVATE service_core worker_core setup_core GTest::gtest GTest::gtest_main)
include(GoogleTest)
# Rows are named by their tables; a hang fails its test instead of the run.
gtest_discover_tests(unit_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 60)
