# Installation and the Debian package: the program, its menu entry, its icons (one frame
# of the show, rendered headless by the build) and its manual page.
#
#   cmake --install build/release                        # under /usr/local
#   DESTDIR=/tmp/stage cmake --install build/release --prefix /usr
#   scripts/build-deb                                    # pulse165_<version>_<arch>.deb
include(GNUInstallDirs)

option(PULSE165_COMPRESS_MAN "Install the manual page gzipped, as Debian packages carry it" OFF)
set(PULSE165_MAINTAINER "pulse165 developers <pulse165@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Directories that installation creates are world-readable whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)
set(PULSE165_INSTALL_COMPONENT show)

# ---------------------------------------------------------------------------
# Icons: the ribbon star in the middle of its scene, cropped square and shrunk.
add_subdirectory(${CMAKE_SOURCE_DIR}/tools/icon ${CMAKE_BINARY_DIR}/tools/icon)

set(PULSE165_ICON_MOMENT 160b)        # the middle of the ribbon star's scene
set(PULSE165_ICON_FRAME_SIZE 1024x512)
set(PULSE165_ICON_CROP 0.5)           # a 256-pixel square around the star, without the scope
set(PULSE165_ICON_SIZES 48 128 256)

set(PULSE165_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(PULSE165_ICON_FRAME ${PULSE165_ICON_DIR}/frame.png)
set(PULSE165_ICON_FILES)
set(PULSE165_ICON_SCALE_ARGS)
foreach(side ${PULSE165_ICON_SIZES})
  set(file ${PULSE165_ICON_DIR}/${side}x${side}/apps/pulse165.png)
  list(APPEND PULSE165_ICON_FILES ${file})
  list(APPEND PULSE165_ICON_SCALE_ARGS ${side} ${file})
  file(MAKE_DIRECTORY ${PULSE165_ICON_DIR}/${side}x${side}/apps)
endforeach()

# Leak reports from the GL driver must not fail a sanitizer build's icon.
add_custom_command(
  OUTPUT ${PULSE165_ICON_FRAME} ${PULSE165_ICON_FILES}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:pulse165>
          --screenshot=${PULSE165_ICON_FRAME} --at=${PULSE165_ICON_MOMENT} --size=${PULSE165_ICON_FRAME_SIZE}
  COMMAND icon_scale --crop=${PULSE165_ICON_CROP} ${PULSE165_ICON_FRAME} ${PULSE165_ICON_SCALE_ARGS}
  DEPENDS pulse165 icon_scale
  COMMENT "Rendering the icon from a frame of the show"
  VERBATIM)
add_custom_target(pulse165_icons ALL DEPENDS ${PULSE165_ICON_FILES})

# ---------------------------------------------------------------------------
# The manual page, dated by SOURCE_DATE_EPOCH when that is set (reproducible packages).
string(TIMESTAMP PULSE165_MAN_DATE "%Y-%m-%d" UTC)
set(PULSE165_MAN_PAGE ${PULSE165_GENERATED_DIR}/pulse165.1)
configure_file(${CMAKE_SOURCE_DIR}/resources/pulse165.1.in ${PULSE165_MAN_PAGE} @ONLY)
if(PULSE165_COMPRESS_MAN)
  find_program(PULSE165_GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${PULSE165_MAN_PAGE}.gz
    COMMAND ${PULSE165_GZIP} -9 -n -k -f ${PULSE165_MAN_PAGE}
    DEPENDS ${PULSE165_MAN_PAGE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(pulse165_man ALL DEPENDS ${PULSE165_MAN_PAGE}.gz)
  set(PULSE165_MAN_INSTALLED ${PULSE165_MAN_PAGE}.gz)
else()
  set(PULSE165_MAN_INSTALLED ${PULSE165_MAN_PAGE})
endif()

# ---------------------------------------------------------------------------
install(TARGETS pulse165 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${PULSE165_INSTALL_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/resources/pulse165.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT ${PULSE165_INSTALL_COMPONENT})
foreach(side ${PULSE165_ICON_SIZES})
  install(FILES ${PULSE165_ICON_DIR}/${side}x${side}/apps/pulse165.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps
          COMPONENT ${PULSE165_INSTALL_COMPONENT})
endforeach()
install(FILES ${PULSE165_MAN_INSTALLED} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${PULSE165_INSTALL_COMPONENT})
# The caption face travels inside the program; its licence (the SIL Open Font
# License) travels beside it.
unset(PULSE165_FONT_LICENSE CACHE)
find_file(PULSE165_FONT_LICENSE copyright PATHS /usr/share/doc/fonts-inter REQUIRED NO_DEFAULT_PATH)
install(FILES ${PULSE165_FONT_LICENSE} DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME caption-face-license
        COMPONENT ${PULSE165_INSTALL_COMPONENT})

# `cmake --build <dir> --target uninstall` removes what the last `cmake --install` from
# this build folder installed (under the same DESTDIR); folders stay.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/uninstall.cmake @ONLY CONTENT [[
set(manifest "@CMAKE_BINARY_DIR@/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "pulse165: nothing to uninstall: ${manifest} is missing (run cmake --install first)")
endif()
file(STRINGS "${manifest}" installed)
foreach(path IN LISTS installed)
  set(path "$ENV{DESTDIR}${path}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
]])
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/uninstall.cmake
                  COMMENT "Removing the installed files" VERBATIM)

# ---------------------------------------------------------------------------
# The Debian package: `cpack -G DEB` in a build configured for /usr (scripts/build-deb).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pulse165)
set(CPACK_PACKAGE_VENDOR pulse165)
set(CPACK_PACKAGE_CONTACT ${PULSE165_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
# The long description, wrapped for dpkg's 80 columns; an empty line separates paragraphs.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "pulse165 plays three minutes of music at 165 beats per minute and draws\n"
       "nine generated, audio-reactive OpenGL scenes in step with it, full screen\n"
       "or in a window. The music is composed when the program is built and is\n"
       "carried inside it.\n"
       "\n"
       "It also renders the show headless, without a display or a graphics card:\n"
       "single frames to PNG, the whole show or a part of it to a video file, and\n"
       "a benchmark of every scene.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PULSE165_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/out/")
include(CPack)
