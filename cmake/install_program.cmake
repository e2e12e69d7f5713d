# Runs inside cmake --install. Given PENNACLE_PROGRAM, PENNACLE_BOOKS, PENNACLE_KDBTOOL,
# PENNACLE_DESKTOP_DIR and CMAKE_INSTALL_PREFIX. Each file is copied beside its place and renamed over it, so a running
# program is never written into; nothing else in the program directory (data.kdb, data.KDT,
# backups/) is touched.

if(DEFINED ENV{PENNACLE_HOME} AND NOT "$ENV{PENNACLE_HOME}" STREQUAL "")
  set(home "$ENV{PENNACLE_HOME}")
else()
  set(home "${CMAKE_INSTALL_PREFIX}/lib/pennacle")
endif()
if(NOT IS_ABSOLUTE "${home}")
  message(FATAL_ERROR "PENNACLE_HOME must be an absolute path, not '${home}'")
endif()
set(exec_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

function(pennacle_put src dst)
  get_filename_component(dir "${dst}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${src}" "${dst}.installing")
  file(CHMOD "${dst}.installing" PERMISSIONS ${ARGN})
  file(RENAME "${dst}.installing" "${dst}")
  message(STATUS "Installing: ${dst}")
endfunction()

pennacle_put("${PENNACLE_PROGRAM}" "${home}/pennacle" ${exec_mode})
pennacle_put("${PENNACLE_BOOKS}" "${home}/pennacle-books" ${exec_mode})
pennacle_put("${PENNACLE_KDBTOOL}" "${home}/kdbtool" ${exec_mode})

foreach(name pennacle pennacle-books kdbtool)
  set(link "${CMAKE_INSTALL_PREFIX}/bin/${name}")
  file(MAKE_DIRECTORY "${CMAKE_INSTALL_PREFIX}/bin")
  file(REMOVE "${link}")
  file(CREATE_LINK "${home}/${name}" "${link}" SYMBOLIC)
  message(STATUS "Linking: ${link} -> ${home}/${name}")
endforeach()

# The Exec key: the path in double quotes, with the characters that are special inside them
# escaped, then every backslash doubled once more for the entry's own string escapes. One entry per
# window: both open the same ledger.
set(entry_dir "${CMAKE_INSTALL_PREFIX}/share/applications")
file(MAKE_DIRECTORY "${entry_dir}")
foreach(name pennacle pennacle-books)
  set(exec "${home}/${name}")
  string(REPLACE "\\" "\\\\\\\\" exec "${exec}")
  foreach(special "\"" "`" "$")
    string(REPLACE "${special}" "\\\\${special}" exec "${exec}")
  endforeach()
  string(REPLACE "%" "%%" exec "${exec}")
  set(PENNACLE_EXEC "\"${exec}\"")
  configure_file("${PENNACLE_DESKTOP_DIR}/${name}.desktop.in" "${entry_dir}/${name}.desktop.installing" @ONLY)
  file(CHMOD "${entry_dir}/${name}.desktop.installing" PERMISSIONS ${file_mode})
  file(RENAME "${entry_dir}/${name}.desktop.installing" "${entry_dir}/${name}.desktop")
  message(STATUS "Installing: ${entry_dir}/${name}.desktop")
endforeach()
pennacle_put("${PENNACLE_DESKTOP_DIR}/pennacle.svg"
             "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/scalable/apps/pennacle.svg" ${file_mode})
