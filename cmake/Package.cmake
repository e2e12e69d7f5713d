# The Debian package (PENNACLE_PACKAGE=ON; `cpack -G DEB` in the build folder, or scripts/package.sh):
# the programs in /usr/lib/pennacle with /usr/bin/pennacle and /usr/bin/kdbtool linked to them, the
# desktop entry, the icon as SVG and rendered PNGs, AppStream metadata, manual pages, the copyright
# file and the changelog. /usr/lib/pennacle is not the user's to write, so the packaged program keeps
# the ledger in ~/.local/share/pennacle (ledger/ledger_location.h).

set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(pkg ${CMAKE_BINARY_DIR}/package)
set(desktop ${PROJECT_SOURCE_DIR}/desktop)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg}/bin)

install(TARGETS pennacle pennacle-books kdbtool RUNTIME DESTINATION lib/pennacle)
# Stripped as dh_strip strips a program: no symbols, and no .comment or .note sections.
install(CODE "foreach(name pennacle pennacle-books kdbtool)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/pennacle/\${name}\" COMMAND_ERROR_IS_FATAL ANY)
endforeach()")
foreach(name pennacle pennacle-books kdbtool)
  file(CREATE_LINK ../lib/pennacle/${name} ${pkg}/bin/${name} SYMBOLIC)
  install(FILES ${pkg}/bin/${name} DESTINATION bin)
endforeach()

# The menu entries start the commands on the search path.
foreach(name pennacle pennacle-books)
  set(PENNACLE_EXEC ${name})
  configure_file(${desktop}/${name}.desktop.in ${pkg}/${name}.desktop @ONLY)
  install(FILES ${pkg}/${name}.desktop DESTINATION share/applications)
endforeach()
install(FILES ${desktop}/pennacle.metainfo.xml DESTINATION share/metainfo
        RENAME io.github.pennacle.Pennacle.metainfo.xml)

# The icon at each size a menu or a dock asks for, rendered from the one SVG.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icons)
foreach(size 16 32 48 64 128 256)
  set(png ${pkg}/icons/${size}/pennacle.png)
  add_custom_command(OUTPUT ${png}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg}/icons/${size}
                     COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${desktop}/pennacle.svg
                     DEPENDS ${desktop}/pennacle.svg
                     COMMENT "Rendering the ${size}x${size} icon")
  list(APPEND icons ${png})
  install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${desktop}/pennacle.svg DESTINATION share/icons/hicolor/scalable/apps)

# Debian's documents are compressed with gzip -9n: no name or time stamp, so a rebuild is identical.
find_program(GZIP gzip REQUIRED)
set(docs)
foreach(doc changelog pennacle.1 pennacle-books.1 kdbtool.1)
  add_custom_command(OUTPUT ${pkg}/${doc}.gz
                     COMMAND ${GZIP} -9nc ${packaging}/${doc} > ${pkg}/${doc}.gz
                     DEPENDS ${packaging}/${doc}
                     COMMENT "Compressing ${doc}")
  list(APPEND docs ${pkg}/${doc}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${icons} ${docs})
install(FILES ${packaging}/copyright ${pkg}/changelog.gz DESTINATION share/doc/pennacle)
install(FILES ${pkg}/pennacle.1.gz ${pkg}/pennacle-books.1.gz ${pkg}/kdbtool.1.gz DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pennacle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pennacle developers <pennacle@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pennacle.github.io/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small desktop ledger of the money you pay out and receive")
set(CPACK_PACKAGE_DESCRIPTION
    "Pennacle keeps a record of one person's expenses and income: each bill with its
type, amount, way of payment, time and a remark, in one list with the counts of
today, this month and this year. Each user's ledger lives in
~/.local/share/pennacle, with a snapshot taken every day. The kdbtool command
checks, exports and backs up the ledger and imports Alipay and WeChat Pay
exports.")
# The libraries come from dpkg-shlibdeps. The Qt platform plugins are loaded at run time, so no
# library names them; without them the window cannot open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
