# Starts the application with a scripted snapshot and checks both images,
# then starts it again without a size: the window comes back at the size it
# had when it quit.
#   cmake -DAPP=<quorvel> -DWORK=<folder> -P AppSnapshot.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/config")
# A screen large enough for the window, so a restored size is not cut to fit.
file(WRITE "${WORK}/screen.json" [=[
{"screens": [{"name": "wide", "x": 0, "y": 0, "width": 2560, "height": 1600,
              "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}
]=])
set(ENV{QT_QPA_PLATFORM} "offscreen:configfile=${WORK}/screen.json")
set(ENV{XDG_CONFIG_HOME} "${WORK}/config")
set(out "${WORK}/window.png")
execute_process(COMMAND "${APP}" --snapshot "${out}" --snapshot-size 1280x800
                RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quorvel ended with ${rc}")
endif()

# Width and height of a PNG file, from its IHDR chunk.
function(png_size file out_width out_height)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "missing ${file}")
  endif()
  file(READ "${file}" signature LIMIT 8 HEX)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${file} is not a PNG file")
  endif()
  file(READ "${file}" w LIMIT 4 OFFSET 16 HEX)
  file(READ "${file}" h LIMIT 4 OFFSET 20 HEX)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  set(${out_width} ${w} PARENT_SCOPE)
  set(${out_height} ${h} PARENT_SCOPE)
endfunction()

png_size("${out}" width height)
if(NOT width EQUAL 1280 OR NOT height EQUAL 800)
  message(FATAL_ERROR "window image is ${width}x${height}, not 1280x800")
endif()
png_size("${WORK}/window-options.png" ow oh)
if(ow LESS 1 OR oh LESS 1)
  message(FATAL_ERROR "options image is empty")
endif()

set(again "${WORK}/again.png")
execute_process(COMMAND "${APP}" --snapshot "${again}" RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second start ended with ${rc}")
endif()
png_size("${again}" width height)
if(NOT width EQUAL 1280 OR NOT height EQUAL 800)
  message(FATAL_ERROR "the window came back at ${width}x${height}, not at its last size 1280x800")
endif()
message(STATUS "window 1280x800 (and again after a restart), options ${ow}x${oh}")
