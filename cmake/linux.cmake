# The Linux platform: libpulse capture (ALSA when no sound server runs), pocketsphinx recognition,
# our own run loop.
pkg_check_modules(POCKETSPHINX REQUIRED pocketsphinx sphinxbase)
# Debian's pocketsphinx.pc names an include directory that the packages do not ship.
set(POCKETSPHINX_EXISTING_INCLUDE_DIRS "")
foreach(dir IN LISTS POCKETSPHINX_INCLUDE_DIRS)
  if(EXISTS "${dir}")
    list(APPEND POCKETSPHINX_EXISTING_INCLUDE_DIRS "${dir}")
  endif()
endforeach()
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_get_variable(POCKETSPHINX_MODEL_DIR pocketsphinx modeldir)

file(GLOB MIC_LINUX_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/*.cpp)
list(FILTER MIC_LINUX_SOURCES EXCLUDE REGEX "_test\\.cpp$")
if(NOT MIC_LINUX_SOURCES)
  return()
endif()
add_library(mic_linux_platform STATIC ${MIC_LINUX_SOURCES})
target_include_directories(mic_linux_platform PUBLIC src)
target_include_directories(mic_linux_platform SYSTEM PUBLIC ${POCKETSPHINX_EXISTING_INCLUDE_DIRS})
target_compile_options(mic_linux_platform PUBLIC ${POCKETSPHINX_CFLAGS_OTHER})
target_compile_definitions(mic_linux_platform PRIVATE
  MIC_POCKETSPHINX_MODEL_DIR="${POCKETSPHINX_MODEL_DIR}")
target_link_libraries(mic_linux_platform PUBLIC
  ${POCKETSPHINX_LINK_LIBRARIES} PkgConfig::SOXR PkgConfig::PULSE PkgConfig::ALSA Threads::Threads)

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/linux_platform.cpp)
  add_executable(mic-transcriber src/app/main.cpp)
  target_link_libraries(mic-transcriber PRIVATE mic_core mic_linux_platform)
  install(TARGETS mic-transcriber RUNTIME DESTINATION bin)
endif()
