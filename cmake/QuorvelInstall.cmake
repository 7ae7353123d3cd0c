# Install rules of an edition's application: the program, its freedesktop
# launcher (.desktop) and its icon in the hicolor theme.
#
# quorvel_install_edition(<target> ID <id> NAME <name> COMMENT <text>
#                         ICON <svg> CATEGORIES <list> MIME <types...>)
#
# The installed program is <target> built again as <target>-installed with
# QUORVEL_INSTALLED_BUILD defined (only that build checks for updates by
# itself) and installed as bin/<id>. The launcher is
# share/applications/<id>.desktop; its Exec line names the installed
# program with %F, so files opened with it are queued. The icon is
# share/icons/hicolor/scalable/apps/<id>.svg, found by the name <id>.
include(GNUInstallDirs)

function(quorvel_install_edition target)
  cmake_parse_arguments(E "" "ID;NAME;COMMENT;ICON" "CATEGORIES;MIME" ${ARGN})
  foreach(required ID NAME COMMENT ICON CATEGORIES MIME)
    if(NOT E_${required})
      message(FATAL_ERROR "quorvel_install_edition(${target}): ${required} is missing")
    endif()
  endforeach()

  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(libs ${target} LINK_LIBRARIES)
  set(installed ${target}-installed)
  list(TRANSFORM sources PREPEND "${source_dir}/")
  add_executable(${installed} ${sources})
  target_link_libraries(${installed} PRIVATE ${libs})
  target_compile_definitions(${installed} PRIVATE QUORVEL_INSTALLED_BUILD=1)
  quorvel_warnings(${installed})

  install(PROGRAMS $<TARGET_FILE:${installed}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${E_ID})
  install(FILES ${E_ICON} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${E_ID}.svg)

  # The launcher names the program by its installed path, which is known
  # only when installing (`cmake --install … --prefix` may change it).
  list(JOIN E_CATEGORIES ";" categories)
  list(JOIN E_MIME ";" mime)
  set(template ${PROJECT_SOURCE_DIR}/cmake/edition.desktop.in)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${E_ID}.desktop)
  install(CODE "
    set(EDITION_ID \"${E_ID}\")
    set(EDITION_NAME \"${E_NAME}\")
    set(EDITION_COMMENT \"${E_COMMENT}\")
    set(EDITION_CATEGORIES \"${categories};\")
    set(EDITION_MIME \"${mime};\")
    set(EDITION_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${E_ID}\")
    configure_file(\"${template}\" \"${generated}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\" TYPE FILE
         FILES \"${generated}\")
  ")
endfunction()
