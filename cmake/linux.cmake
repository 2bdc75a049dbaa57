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

add_library(mic_linux_platform STATIC
  src/platform/linux/bounded_file.cpp
  src/platform/linux/detached_thread.cpp
  src/platform/linux/large_pages.cpp
  src/platform/linux/linux_platform.cpp
  src/platform/linux/posix_locales.cpp
  src/platform/linux/posix_process.cpp
  src/platform/linux/run_loop.cpp
  src/platform/linux/steady_clock.cpp
  src/platform/linux/capture/alsa_capture.cpp
  src/platform/linux/capture/frame_collector.cpp
  src/platform/linux/capture/linux_audio_input.cpp
  src/platform/linux/capture/pulse_capture.cpp
  src/platform/linux/capture/pulse_memory.cpp
  src/platform/linux/capture/pulse_server.cpp
  src/recognizer/audio_queue.cpp
  src/display_text/display_text.cpp
  src/display_text/english_display_text.cpp
  src/display_text/english_names.cpp
  src/display_text/english_numbers.cpp
  src/recognizer/model_load.cpp
  src/recognizer/recognition_service.cpp
  src/recognizer/recognition_worker.cpp
  src/recognizer/recognizer_threads.cpp
  src/recognizer/resampler.cpp
  src/recognizer/pocketsphinx/language_model_dictionary.cpp
  src/recognizer/pocketsphinx/language_model_vocabulary.cpp
  src/recognizer/pocketsphinx/model_check.cpp
  src/recognizer/pocketsphinx/model_definition.cpp
  src/recognizer/pocketsphinx/model_file_reader.cpp
  src/recognizer/pocketsphinx/model_locator.cpp
  src/recognizer/pocketsphinx/pocketsphinx_decoder.cpp
  src/recognizer/pocketsphinx/pocketsphinx_engine.cpp
  src/recognizer/pocketsphinx/pocketsphinx_utterance.cpp
  src/recognizer/pocketsphinx/segment_bound.cpp
  src/recognizer/pocketsphinx/senone_dump.cpp
  src/recognizer/pocketsphinx/sphinx_params.cpp
)
target_include_directories(mic_linux_platform PUBLIC src)
target_include_directories(mic_linux_platform SYSTEM PUBLIC ${POCKETSPHINX_EXISTING_INCLUDE_DIRS})
target_compile_options(mic_linux_platform PUBLIC ${POCKETSPHINX_CFLAGS_OTHER})
target_compile_definitions(mic_linux_platform PRIVATE
  MIC_POCKETSPHINX_MODEL_DIR="${POCKETSPHINX_MODEL_DIR}")
target_link_libraries(mic_linux_platform PUBLIC
  mic_platform_common ${POCKETSPHINX_LINK_LIBRARIES} PkgConfig::SOXR PkgConfig::PULSE PkgConfig::ALSA Threads::Threads)

add_executable(mic-transcriber src/app/main.cpp)
target_link_libraries(mic-transcriber PRIVATE mic_core mic_linux_platform)
install(TARGETS mic-transcriber RUNTIME DESTINATION bin)
