# Install rules of an edition's application: the program, its freedesktop
# launcher (.desktop) and its icon in the hicolor theme.
#
# quorvel_install_edition(<target> GENERATOR <program>)
#
# The installed program is <target> built again as <target>-installed with
# QUORVEL_INSTALLED_BUILD defined (only that build checks for updates by
# itself) and installed as bin/<target>. The launcher
# share/applications/<target>.desktop and the icon
# share/icons/hicolor/scalable/apps/<target>.svg (found by the name
# <target>) are printed by GENERATOR from the edition's branding, preset and
# picture; the launcher's Exec line names the installed program with %F, so
# files opened with it are queued.
include(GNUInstallDirs)

function(quorvel_install_edition target)
  cmake_parse_arguments(E "" "GENERATOR" "" ${ARGN})
  if(NOT E_GENERATOR)
    message(FATAL_ERROR "quorvel_install_edition(${target}): GENERATOR is missing")
  endif()

  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(libs ${target} LINK_LIBRARIES)
  set(installed ${target}-installed)
  list(TRANSFORM sources PREPEND "${source_dir}/")
  add_executable(${installed} ${sources})
  target_link_libraries(${installed} PRIVATE ${libs})
  target_compile_definitions(${installed} PRIVATE QUORVEL_INSTALLED_BUILD=1)
  quorvel_warnings(${installed})

  install(PROGRAMS $<TARGET_FILE:${installed}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${target})

  # The launcher names the program by its installed path, which is known
  # only when installing (`cmake --install … --prefix` may change it).
  set(work ${CMAKE_CURRENT_BINARY_DIR}/desktop-files)
  install(CODE "
    set(generator \"$<TARGET_FILE:${E_GENERATOR}>\")
    set(program \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\")
    set(ENV{QT_QPA_PLATFORM} offscreen)
    execute_process(COMMAND \"\${generator}\" ${target} desktop \"\${program}\"
                    OUTPUT_VARIABLE entry RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"${E_GENERATOR} could not make the launcher of ${target}\")
    endif()
    execute_process(COMMAND \"\${generator}\" ${target} icon OUTPUT_VARIABLE icon RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"${E_GENERATOR} could not make the icon of ${target}\")
    endif()
    file(MAKE_DIRECTORY \"${work}/icon\")
    file(WRITE \"${work}/${target}.desktop\" \"\${entry}\")
    file(WRITE \"${work}/icon/${target}.svg\" \"\${icon}\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\" TYPE FILE
         FILES \"${work}/${target}.desktop\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps\"
         TYPE FILE FILES \"${work}/icon/${target}.svg\")
  ")
endfunction()
