set(CMAKE_C_COMPILER ${KLARVOSS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KLARVOSS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KLARVOSS_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${KLARVOSS_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${KLARVOSS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything built here runs under Wine, in the project's own prefix. 32-bit
# programs run natively where the kernel runs 32-bit programs, else under CPU
# emulation; wine-mode says which, and refuses an emulator that cannot run
# their threads.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine-mode
                  OUTPUT_VARIABLE KLARVOSS_WINE_MODE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_VARIABLE wine_mode_error ERROR_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE wine_mode_status)
  if(NOT wine_mode_status EQUAL 0)
    message(FATAL_ERROR "${wine_mode_error}")
  endif()
else()
  set(KLARVOSS_WINE_MODE native)
endif()
set(KLARVOSS_WINE_MODE ${KLARVOSS_WINE_MODE} CACHE INTERNAL "how Windows programs run: native or emulated")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run --${KLARVOSS_WINE_MODE})
