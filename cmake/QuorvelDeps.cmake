# Third-party libraries, each as an imported target so that their headers
# come in through -isystem and never trip the project's warning flags.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n data)

pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET
  libavformat libavcodec libavutil libswresample libswscale)
# Debian's pocketsphinx.pc names an include folder that the package does not
# ship (sphinxbase lives under the multiarch include path), so the target is
# put together by hand.
find_path(POCKETSPHINX_INCLUDE_DIR pocketsphinx.h PATH_SUFFIXES pocketsphinx REQUIRED)
find_path(SPHINXBASE_INCLUDE_DIR sphinxbase/cmd_ln.h
  PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE} REQUIRED)
find_library(POCKETSPHINX_LIBRARY pocketsphinx REQUIRED)
find_library(SPHINXBASE_LIBRARY sphinxbase REQUIRED)
add_library(PkgConfig::POCKETSPHINX INTERFACE IMPORTED)
set_target_properties(PkgConfig::POCKETSPHINX PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${POCKETSPHINX_INCLUDE_DIR};${SPHINXBASE_INCLUDE_DIR};${SPHINXBASE_INCLUDE_DIR}/sphinxbase"
  INTERFACE_LINK_LIBRARIES "${POCKETSPHINX_LIBRARY};${SPHINXBASE_LIBRARY};m")
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo pangocairo)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)
pkg_check_modules(HEIF REQUIRED IMPORTED_TARGET libheif)

if(QUORVEL_BUILD_TESTS)
  find_package(GTest REQUIRED)
  pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
  include(GoogleTest)
endif()
if(QUORVEL_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  if(NOT TARGET PkgConfig::EBUR128)
    pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
  endif()
endif()
if(QUORVEL_BUILD_UI)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network Test)
endif()

# The image engine's libraries; looked up only when that module exists.
if(EXISTS ${PROJECT_SOURCE_DIR}/src/image/CMakeLists.txt)
  find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs photo)
  pkg_check_modules(IMAGELIBS REQUIRED IMPORTED_TARGET
    libjpeg libturbojpeg libpng libheif libraw_r lcms2 exiv2 libtiff-4 OpenEXR stb)
  # libvips only resamples; it comes in separately so its GLib headers stay
  # out of every other target.
  pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips)
endif()
