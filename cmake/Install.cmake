# The Debian package lays the programs out under /usr instead (cmake/Package.cmake).
if(PENNACLE_PACKAGE)
  include(cmake/Package.cmake)
  return()
endif()

# Per-user install (cmake --install): the program and kdbtool in a program directory of their own,
# by default <prefix>/lib/pennacle with the prefix ~/.local, where the ledger (data.kdb beside the
# program) lives; links in <prefix>/bin, a desktop entry and an icon. PENNACLE_HOME in the
# environment at install time names another program directory.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install prefix" FORCE)
endif()

if(TARGET pennacle AND TARGET pennacle-books AND TARGET kdbtool)
  install(CODE "set(PENNACLE_PROGRAM \"$<TARGET_FILE:pennacle>\")
set(PENNACLE_BOOKS \"$<TARGET_FILE:pennacle-books>\")
set(PENNACLE_KDBTOOL \"$<TARGET_FILE:kdbtool>\")
set(PENNACLE_DESKTOP_DIR \"${PROJECT_SOURCE_DIR}/desktop\")")
  install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install_program.cmake)

  # The run command's install steps in a temporary HOME, on this tree's programs.
  if(PENNACLE_TESTS AND NOT PENNACLE_SANITIZE STREQUAL "thread")
    add_test(NAME install_test COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/install_test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(install_test PROPERTIES TIMEOUT 300 ENVIRONMENT
      "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp")
  endif()
endif()
