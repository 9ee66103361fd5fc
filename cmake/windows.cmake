# The 32-bit Windows programs (cross-compiled with MinGW-w64).
enable_language(RC)

add_compile_options(-Wall -Wextra -Os -fno-asynchronous-unwind-tables)
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

add_library(worker_win32 STATIC ${WORKER_SOURCES} worker/win32/platform_win32.cpp)
target_link_libraries(worker_win32 PUBLIC wininet advapi32)

# The worker in a plain console host, until the service host takes over.
function(add_worker_host name tick_ms)
    add_executable(${name} tests/host/win32/worker_host.cpp resources/pelkor.rc)
    add_dependencies(${name} message_table)
    target_compile_definitions(${name} PRIVATE PELKOR_TICK_MS=${tick_ms})
    target_link_libraries(${name} PRIVATE worker_win32)
endfunction()
add_worker_host(pelkor 15000)

# Test-only programs: the worker with a one-second tick (the worker's tick
# is compiled in, so this needs its own build of the worker), and a reader
# of a program's message table.
add_library(worker_win32_fasttick STATIC ${WORKER_SOURCES} worker/win32/platform_win32.cpp)
target_compile_definitions(worker_win32_fasttick PRIVATE PELKOR_TICK_MS=1000)
target_link_libraries(worker_win32_fasttick PUBLIC wininet advapi32)
add_executable(pelkor_fasttick tests/host/win32/worker_host.cpp resources/pelkor.rc)
add_dependencies(pelkor_fasttick message_table)
target_link_libraries(pelkor_fasttick PRIVATE worker_win32_fasttick)

add_executable(msgdump tests/e2e/tools/msgdump.c)
