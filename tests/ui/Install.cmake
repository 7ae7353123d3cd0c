# Installs the build into a fresh prefix and checks the desktop integration
# of every edition: its program, a launcher that desktop-file-validate
# accepts, and an icon of its own.
#   cmake -DBUILD=<build dir> -DWORK=<folder> -P Install.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix with space")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}")
endif()
find_program(VALIDATE desktop-file-validate REQUIRED)

# Per edition: program, Name, start of the Comment (the window's subtitle),
# Categories, and MIME types its preset's extensions must bring.
set(quorvel_name "Quorvel")
set(quorvel_comment "Clean up, level and package podcast episodes")
set(quorvel_categories "AudioVideo;Audio;")
set(quorvel_mime audio/mpeg audio/x-wav audio/flac audio/mp4 audio/x-aiff video/mp4 video/quicktime audio/x-caf)
set(halvane_name "Halvane Pro")
set(halvane_comment "Auto-straighten vertical lines, strip seller GPS tags")
set(halvane_categories "Graphics;Photography;")
set(halvane_mime image/jpeg image/png image/heic image/tiff image/x-canon-cr2 image/x-canon-cr3 image/x-nikon-nef
    image/x-sony-arw image/x-adobe-dng)
set(zentrix_name "Zentrix Express")
set(zentrix_comment "Packs PBR maps for Unreal, Unity and Godot")
set(zentrix_categories "Graphics;3DGraphics;")
set(zentrix_mime image/png image/x-tga image/tiff image/jpeg image/x-exr)

set(programs "")
foreach(edition quorvel halvane zentrix)
  set(program "${prefix}/bin/${edition}")
  if(NOT EXISTS "${program}" OR IS_DIRECTORY "${program}")
    message(FATAL_ERROR "the program is not installed at ${program}")
  endif()
  list(APPEND programs "${program}")
endforeach()
# The editions share nearly all of their libraries: one pass resolves each
# library once.
file(GET_RUNTIME_DEPENDENCIES EXECUTABLES ${programs} RESOLVED_DEPENDENCIES_VAR deps
     UNRESOLVED_DEPENDENCIES_VAR missing)
if(missing)
  message(FATAL_ERROR "the programs miss libraries: ${missing}")
endif()

# OpenCV's codecs are a module the programs load when a picture first needs
# them, from lib/quorvel beside them: installed there, with every library
# of its own found.
set(codec_module "${prefix}/lib/quorvel/libqv_opencv_codecs.so")
if(NOT EXISTS "${codec_module}")
  message(FATAL_ERROR "the codec module is not installed at ${codec_module}")
endif()
file(GET_RUNTIME_DEPENDENCIES MODULES ${codec_module} UNRESOLVED_DEPENDENCIES_VAR missing)
if(missing)
  message(FATAL_ERROR "the codec module misses libraries: ${missing}")
endif()

set(icon_files "")
foreach(edition quorvel halvane zentrix)
  set(program "${prefix}/bin/${edition}")

  set(desktop "${prefix}/share/applications/${edition}.desktop")
  if(NOT EXISTS "${desktop}")
    message(FATAL_ERROR "no launcher at ${desktop}")
  endif()
  # Hints fail too: two main categories, say, list the program twice in menus.
  execute_process(COMMAND "${VALIDATE}" "${desktop}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR out MATCHES "(error|warning|hint):")
    message(FATAL_ERROR "desktop-file-validate ${desktop}: ${out}")
  endif()

  file(STRINGS "${desktop}" lines)
  foreach(key Name Comment Exec Icon Categories MimeType)
    unset(entry_${key})
  endforeach()
  foreach(line ${lines})
    if(line MATCHES "^([A-Za-z]+)=(.*)$")
      set(entry_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
  endforeach()
  if(NOT entry_Name STREQUAL "${${edition}_name}")
    message(FATAL_ERROR "${edition}: Name is '${entry_Name}'")
  endif()
  string(FIND "${entry_Comment}" "${${edition}_comment}" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "${edition}: Comment is '${entry_Comment}', not the subtitle")
  endif()
  if(NOT entry_Exec STREQUAL "\"${program}\" %F")
    message(FATAL_ERROR "${edition}: Exec is '${entry_Exec}'")
  endif()
  if(NOT entry_Categories STREQUAL "${${edition}_categories}")
    message(FATAL_ERROR "${edition}: Categories are '${entry_Categories}'")
  endif()
  foreach(type ${${edition}_mime})
    if(NOT entry_MimeType MATCHES "(^|;)${type};")
      message(FATAL_ERROR "${edition}: MimeType lacks ${type}: '${entry_MimeType}'")
    endif()
  endforeach()

  # The icon is looked up by name in the hicolor theme, one per edition.
  if(NOT entry_Icon STREQUAL "${edition}")
    message(FATAL_ERROR "${edition}: Icon is '${entry_Icon}'")
  endif()
  file(GLOB icons "${prefix}/share/icons/hicolor/*/apps/${entry_Icon}.svg" "${prefix}/share/icons/hicolor/*/apps/${entry_Icon}.png")
  if(NOT icons)
    message(FATAL_ERROR "no icon named '${entry_Icon}' in ${prefix}/share/icons/hicolor")
  endif()
  file(READ "${prefix}/share/icons/hicolor/scalable/apps/${entry_Icon}.svg" svg)
  if(NOT svg MATCHES "^<\\?xml[^>]*>[\r\n]*<svg .*</svg>")
    message(FATAL_ERROR "the icon of ${edition} is not an SVG image")
  endif()
  string(SHA256 digest "${svg}")
  if(digest IN_LIST icon_files)
    message(FATAL_ERROR "the icon of ${edition} is the same picture as another edition's")
  endif()
  list(APPEND icon_files ${digest})
endforeach()
message(STATUS "installed into ${prefix}: three programs, launchers and icons")
