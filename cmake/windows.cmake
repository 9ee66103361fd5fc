# The 32-bit Windows programs (cross-compiled with MinGW-w64).
enable_language(RC)

add_compile_options(-Wall -Wextra -Os)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options(-fno-asynchronous-unwind-tables)
endif()
# Only system DLLs and msvcrt at run time: the GCC runtimes go in statically.
add_link_options(-static -static-libgcc -static-libstdc++ -s)
include_directories(${CMAKE_SOURCE_DIR})

# The worker and the service programs are C-style C++ like setup: no C++
# runtime, no exceptions, no RTTI and no global constructors; msvcrt,
# the system DLLs and libgcc's helpers are all they link.
# (No -fdata-sections: the PE linker script leaves .bss.* sections out of
# .bss, and the buffers would then take their size in the file.)
# Link-time optimisation lets -Oz work across the worker, the service and
# the seams as one unit: some 2 KB less code, which the size gate needs.
# -Oz (smaller than -Os by some 250 bytes here) trades speed the service
# never needs; 32-bit Windows keeps its stack 4-byte aligned, so the code
# need not align it further (some 90 bytes).
set(LEAN_OPT -flto -Oz)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND LEAN_OPT -mpreferred-stack-boundary=2)
endif()
set(LEAN_CXX_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics -ffunction-sections ${LEAN_OPT})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(LEAN_ENTRY _PelkorEntry)
else()
    set(LEAN_ENTRY PelkorEntry)
endif()
set(LEAN_DLLS kernel32,advapi32,wininet,msvcrt)
# What the shipped program may reach: 32 KiB at most (the aim is 24 KiB).
set(PELKOR_SIZE_LIMIT 32768)

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

# The version block takes the project's version (the one place that holds
# it) from a configured header; the package reads it back from the program.
set(PELKOR_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")
set(VERSION_DIR ${CMAKE_BINARY_DIR}/version)
configure_file(resources/pelkor_version.h.in ${VERSION_DIR}/pelkor_version.h @ONLY)

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 932 -I ${MESSAGES_DIR} -I ${VERSION_DIR} -I ${CMAKE_SOURCE_DIR}/resources")
set_source_files_properties(resources/pelkor.rc PROPERTIES
    OBJECT_DEPENDS "${MESSAGES_DIR}/messages.rc;${MESSAGES_DIR}/messages_MSG00411.bin;${CMAKE_SOURCE_DIR}/resources/pelkor.ico;${VERSION_DIR}/pelkor_version.h")

set(SERVICE_SOURCES
    service/commands.cpp
    service/service_control.cpp
    service/win32/scm_win32.cpp
    service/win32/main.cpp)

# The worker's tick is compiled in; test builds shorten it, so each tick
# gets its own build of the worker.
function(add_worker_library name tick_ms)
    add_library(${name} STATIC ${WORKER_SOURCES} worker/win32/platform_win32.cpp
                worker/win32/local_address_win32.cpp)
    target_compile_definitions(${name} PRIVATE PELKOR_TICK_MS=${tick_ms})
    target_compile_options(${name} PRIVATE ${LEAN_CXX_OPTIONS})
    target_link_libraries(${name} PUBLIC wininet advapi32)
endfunction()

# A lean program with its own entry (see service/win32/main.cpp); the build
# fails when it imports anything else or loses its relocations, ASLR or DEP
# flags, and, with a limit, when it grows to the limit.
function(add_program name worker limit)
    add_executable(${name} ${ARGN} resources/pelkor.rc)
    add_dependencies(${name} message_table)
    target_compile_options(${name} PRIVATE ${LEAN_CXX_OPTIONS})
    target_link_options(${name} PRIVATE ${LEAN_OPT} -nostartfiles -nostdlib -Wl,-e,${LEAN_ENTRY}
                        -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat)
    target_link_libraries(${name} PRIVATE ${worker} msvcrt kernel32 advapi32 wininet gcc)
    add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${name}> -DLIMIT=${limit}
                -DDLLS=${LEAN_DLLS} -DOBJDUMP=${CMAKE_OBJDUMP}
                -P ${CMAKE_SOURCE_DIR}/cmake/check-image.cmake VERBATIM)
endfunction()

add_worker_library(worker_win32 15000)
add_worker_library(worker_win32_fasttick 1000)

# The service program as shipped.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_program(pelkor worker_win32 ${PELKOR_SIZE_LIMIT} ${SERVICE_SOURCES})
else()
    # Nothing ships from the 64-bit tree: its wider code has no size gate.
    add_program(pelkor worker_win32 "" ${SERVICE_SOURCES})
endif()

# Test-only programs: the service and a plain console host of the worker
# with a one-second tick, and a probe that reads for the tests what Linux
# cannot see (resources, registry value sizes, full exit codes).
add_program(pelkor_fasttick worker_win32_fasttick "" ${SERVICE_SOURCES})
add_program(workerhost_fasttick worker_win32_fasttick "" tests/host/win32/worker_host.cpp)
set_target_properties(pelkor_fasttick workerhost_fasttick PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test)
add_executable(probe tests/e2e/tools/probe.c)
target_link_libraries(probe PRIVATE version advapi32 user32 gdi32)
add_executable(fake_msiexec tests/e2e/tools/fake_msiexec.c)
add_executable(copy_loop bench/tools/copy_loop.c)  # the copy benchmark's yardstick
# The yardstick of bench/service_memory.py: a service that only sleeps.
add_executable(sleeping_service bench/tools/sleeping_service.c)
target_link_libraries(sleeping_service PRIVATE advapi32)
set_target_properties(probe fake_msiexec sleeping_service copy_loop PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test)
add_library(planted_dll SHARED tests/e2e/tools/planted_dll.c)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test)
# The event texts as a 64-bit program (the Event Viewer) reads them: always
# a 64-bit program, whichever tree this is, so the x86_64 compiler directly.
find_program(MINGW64_GCC x86_64-w64-mingw32-gcc REQUIRED)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/test/eventtext64.exe
    COMMAND ${MINGW64_GCC} -Wall -Wextra -Os -s -static -o ${CMAKE_BINARY_DIR}/test/eventtext64.exe
            ${CMAKE_SOURCE_DIR}/tests/e2e/tools/eventtext.c -ladvapi32
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/tools/eventtext.c
    COMMENT "Building the 64-bit event text probe")
add_custom_target(eventtext64 ALL DEPENDS ${CMAKE_BINARY_DIR}/test/eventtext64.exe)

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
target_link_libraries(setup PRIVATE msvcrt kernel32 user32 advapi32 gcc)
# The bare program must end before the package offset (61440 bytes), and
# stays under the 45056 bytes that released setup files have as their stub.
add_custom_command(TARGET setup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:setup> -DLIMIT=61440
            -P ${CMAKE_SOURCE_DIR}/cmake/check-size.cmake
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:setup> -DLIMIT=45056
            -P ${CMAKE_SOURCE_DIR}/cmake/check-size.cmake)
