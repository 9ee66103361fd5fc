# The 32-bit Windows programs (cross-compiled with MinGW-w64).
enable_language(RC)

add_compile_options(-Wall -Wextra -Os)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options(-fno-asynchronous-unwind-tables)
endif()
add_compile_definitions(_WIN32_WINNT=0x0501 WINVER=0x0501)
# Only system DLLs and msvcrt at run time: the GCC runtimes go in statically.
add_link_options(-static -static-libgcc -static-libstdc++ -s)

# Message catalogue: CP932 source, ANSI (not Unicode) message-table entries.
set(MESSAGES_DIR ${CMAKE_BINARY_DIR}/messages)
add_custom_command(
    OUTPUT ${MESSAGES_DIR}/messages.rc ${MESSAGES_DIR}/messages_MSG00411.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MESSAGES_DIR}
    COMMAND ${MINGW_WINDMC} -a -A -C 932 -h ${MESSAGES_DIR} -r ${MESSAGES_DIR} -b
            ${CMAKE_SOURCE_DIR}/resources/messages.mc
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/messages.mc
    COMMENT "Compiling the message catalogue")
add_custom_target(message_table DEPENDS ${MESSAGES_DIR}/messages.rc)

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 932 -I ${MESSAGES_DIR} -I ${CMAKE_SOURCE_DIR}/resources")
set_source_files_properties(resources/pelkor.rc PROPERTIES
    OBJECT_DEPENDS "${MESSAGES_DIR}/messages.rc;${MESSAGES_DIR}/messages_MSG00411.bin;${CMAKE_SOURCE_DIR}/resources/pelkor.ico")

set(SERVICE_SOURCES
    service/commands.cpp
    service/service_control.cpp
    service/win32/scm_win32.cpp
    service/win32/main.cpp)

# The worker's tick is compiled in; test builds shorten it, so each tick
# gets its own build of the worker.
function(add_worker_library name tick_ms)
    add_library(${name} STATIC ${WORKER_SOURCES} worker/win32/platform_win32.cpp)
    target_compile_definitions(${name} PRIVATE PELKOR_TICK_MS=${tick_ms})
    target_link_libraries(${name} PUBLIC wininet advapi32)
endfunction()

function(add_program name worker)
    add_executable(${name} ${ARGN} resources/pelkor.rc)
    add_dependencies(${name} message_table)
    target_link_libraries(${name} PRIVATE ${worker})
endfunction()

add_worker_library(worker_win32 15000)
add_worker_library(worker_win32_fasttick 1000)

# The service program as shipped.
add_program(pelkor worker_win32 ${SERVICE_SOURCES})

# Test-only programs: the service and a plain console host of the worker
# with a one-second tick, and a probe that reads for the tests what Linux
# cannot see (resources, registry value sizes, full exit codes).
add_program(pelkor_fasttick worker_win32_fasttick ${SERVICE_SOURCES})
add_program(workerhost_fasttick worker_win32_fasttick tests/host/win32/worker_host.cpp)
set_target_properties(pelkor_fasttick workerhost_fasttick PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test)
add_executable(probe tests/e2e/tools/probe.c)
target_link_libraries(probe PRIVATE version advapi32)
add_executable(fake_msiexec tests/e2e/tools/fake_msiexec.c)
add_executable(copy_loop bench/tools/copy_loop.c)  # the copy benchmark's yardstick
set_target_properties(probe fake_msiexec copy_loop PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test)

# setup: windowed, C-style C++ with no C++ runtime at all, small enough to
# sit in front of the package offset.
set(SETUP_SOURCES setup/rules.cpp setup/modes.cpp setup/win32/setup_os_win32.cpp
    setup/win32/main.cpp)
add_executable(setup WIN32 ${SETUP_SOURCES} resources/setup.rc)
set_source_files_properties(resources/setup.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/resources/setup.ico)
target_compile_options(setup PRIVATE -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
# Its own entry instead of the C runtime's start-up (see setup/win32/main.cpp).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(SETUP_ENTRY _SetupEntry)
else()
    set(SETUP_ENTRY SetupEntry)
endif()
target_link_options(setup PRIVATE -nostartfiles -nostdlib -Wl,-e,${SETUP_ENTRY} -Wl,--gc-sections)
target_link_libraries(setup PRIVATE msvcrt kernel32 user32 gcc)
# The bare program must end before the package offset (61440 bytes).
add_custom_command(TARGET setup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:setup> -DLIMIT=61440
            -P ${CMAKE_SOURCE_DIR}/cmake/check-size.cmake)
