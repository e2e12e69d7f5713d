# Shared compile options and the test helper.

if(PENNACLE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(PENNACLE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT PENNACLE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PENNACLE_SANITIZE must be empty, address or thread")
endif()
# g++ 12 reports maybe-uninitialized falsely in sanitized, lightly optimised code (std::regex's
# std::function members, for one): there it is a warning only; the plain builds keep it an error.
if(NOT PENNACLE_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-error=maybe-uninitialized)
endif()

# The package's programs are built as Debian builds its own (dpkg-buildflags): fortified libc calls,
# stack protection, a read-only GOT.
if(PENNACLE_PACKAGE)
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

if(PENNACLE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "PENNACLE_FUZZ needs clang (libFuzzer)")
endif()
if(PENNACLE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PENNACLE_THREAD_SAFETY AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "PENNACLE_THREAD_SAFETY needs clang (-Wthread-safety)")
endif()
if(PENNACLE_THREAD_SAFETY)
  add_compile_options(-Wthread-safety -Werror)
endif()

# pennacle_thread_safety(target...): targets the thread-safety build compiles (thread_safety_check).
add_custom_target(thread_safety_check)
function(pennacle_thread_safety)
  foreach(t ${ARGN})
    if(TARGET ${t})
      add_dependencies(thread_safety_check ${t})
    endif()
  endforeach()
endfunction()

find_package(GTest)
find_package(Threads REQUIRED)

# Every text inside the program is GBK: narrow literals written in UTF-8 source become GBK bytes.
# clang only knows UTF-8 as execution charset, so the fuzz build keeps UTF-8 literals (no parser
# compares against a non-ASCII literal; they only appear in messages).
function(pennacle_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # g++ 12 at -O3 reports std::string copies it inlined as overlapping memcpy (GCC bug 105329, a
  # false positive fixed in 13); keep it a warning there so Release builds.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-error=restrict)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GB18030 writes every GBK character with the same bytes, and unlike GBK it can also encode the
    # micro sign in libstdc++'s <chrono> (pulled in by every Qt widget header).
    target_compile_options(${target} PRIVATE -fexec-charset=GB18030)
  endif()
endfunction()

# pennacle_expose(target PATH...): the target, and whatever links it, may include these folders or
# files (paths from the project root, included as "PATH/..."), and nothing else of the project
# through it. Each target gets an include root of its own under <build>/include/ holding links to
# just these paths, so an include of a folder that a target does not link fails to compile.
function(pennacle_expose target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(path ${ARGN})
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT IS_SYMLINK ${root}/${path})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# pennacle_library(name [LIBS ...] [EXCLUDE file...] [EXPOSE path...]): a static library from the
# non-test sources of the calling folder (globbed, so adding a file needs no edit here). It exposes
# its own folder (or the EXPOSE paths) and links LIBS publicly: those are the folders it may use.
function(pennacle_library name)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE;EXPOSE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  foreach(ex ${ARG_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  add_library(${name} STATIC ${srcs})
  if(NOT ARG_EXPOSE)
    file(RELATIVE_PATH ARG_EXPOSE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  pennacle_expose(${name} ${ARG_EXPOSE})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  pennacle_target(${name})
endfunction()

add_custom_target(tsan_tests)

# pennacle_add_tests([BOTH_STORE_MODES] LIBS ... [TSAN name...]): every *_test.cpp beside the code
# becomes one executable and one CTest test. Tests named under TSAN also run in the TSan build (label tsan);
# in a TSan build only those are made.
function(pennacle_add_tests)
  if(PENNACLE_FUZZ OR NOT PENNACLE_TESTS OR NOT GTest_FOUND)
    return()
  endif()
  cmake_parse_arguments(ARG "BOTH_STORE_MODES" "" "LIBS;TSAN" ${ARGN})
  # No test needs a session bus; with none set, Qt's first look for one forks the test.
  set(env "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=disabled:;ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/tsan.supp")
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    list(FIND ARG_TSAN ${name} tsan_index)
    if(PENNACLE_SANITIZE STREQUAL "thread" AND tsan_index EQUAL -1)
      continue()
    endif()
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    pennacle_target(${name})
    # Under the address sanitizer the tests' own code builds at -O0, in about half the time -O1
    # takes; the code they test (the libraries) keeps the build's optimisation.
    if(PENNACLE_SANITIZE STREQUAL "address")
      target_compile_options(${name} PRIVATE -O0)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "${env}")
    # BOTH_STORE_MODES: the test runs a second time with the store's full lock protocol forced.
    if(ARG_BOTH_STORE_MODES)
      add_test(NAME ${name}_full_protocol COMMAND ${name})
      set_tests_properties(${name}_full_protocol PROPERTIES TIMEOUT 300
                           ENVIRONMENT "${env};PENNACLE_STORE_FULL_PROTOCOL=1")
    endif()
    if(NOT tsan_index EQUAL -1)
      set_tests_properties(${name} PROPERTIES LABELS tsan)
      add_dependencies(tsan_tests ${name})
    endif()
  endforeach()
endfunction()

add_custom_target(fuzz_targets)

# pennacle_add_fuzzer(name SOURCE file LIBS ...): a libFuzzer target, only in a PENNACLE_FUZZ build.
function(pennacle_add_fuzzer name)
  if(NOT PENNACLE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SOURCE" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCE})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  pennacle_expose(${name} fuzz)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  pennacle_target(${name})
  add_dependencies(fuzz_targets ${name})
endfunction()
