# Cross toolchain for a 64-bit build of the same programs. Nothing ships
# from it: it lets the end-to-end tests run on hosts whose Wine cannot run
# 32-bit programs.
set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
