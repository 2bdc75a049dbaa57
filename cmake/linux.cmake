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

# The file reader: whole files read under a size limit.
add_library(mic_file_reader STATIC src/platform/linux/bounded_file.cpp)
target_include_directories(mic_file_reader PUBLIC src)

# What the process and its threads run on.
add_library(mic_linux_system STATIC
  src/platform/linux/detached_thread.cpp
  src/platform/linux/large_pages.cpp
  src/platform/linux/posix_locales.cpp
  src/platform/linux/posix_process.cpp
  src/platform/linux/run_loop.cpp
  src/platform/linux/steady_clock.cpp
)
target_include_directories(mic_linux_system PUBLIC src)
target_link_libraries(mic_linux_system PUBLIC mic_platform_common Threads::Threads)

# The microphone: libpulse, or ALSA when no sound server runs.
add_library(mic_linux_capture STATIC
  src/platform/linux/capture/alsa_capture.cpp
  src/platform/linux/capture/frame_collector.cpp
  src/platform/linux/capture/linux_audio_input.cpp
  src/platform/linux/capture/pulse_capture.cpp
  src/platform/linux/capture/pulse_memory.cpp
  src/platform/linux/capture/pulse_server.cpp
)
target_include_directories(mic_linux_capture PUBLIC src)
target_link_libraries(mic_linux_capture PUBLIC mic_linux_system PkgConfig::PULSE PkgConfig::ALSA)

# Text as a person writes it, from a recognizer's words: nothing of audio or of an engine.
file(GLOB MIC_DISPLAY_TEXT_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/display_text/*.h
     ${PROJECT_SOURCE_DIR}/src/display_text/*.cpp)
add_library(mic_display_text STATIC
  src/display_text/display_text.cpp
  src/display_text/english_display_text.cpp
  src/display_text/english_names.cpp
  src/display_text/english_numbers.cpp
)
target_include_directories(mic_display_text PUBLIC src)
target_link_libraries(mic_display_text PUBLIC mic_file_reader)
mic_include_fence(mic_display_text ROOM "the display text" FILES ${MIC_DISPLAY_TEXT_FILES}
  FORBID "pocketsphinx|sphinxbase|^(pulse|alsa)/|^soxr"
  ALLOW "^(display_text/|platform/status\\.h$|platform/linux/bounded_file\\.h$)")

# The recognizer, whatever the engine: the service, its threads, the queue, the resampler, the
# model load. It knows an engine only by decoder.h and speech_model.h.
file(GLOB MIC_RECOGNIZER_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/recognizer/*.h
     ${PROJECT_SOURCE_DIR}/src/recognizer/*.cpp)
add_library(mic_recognizer STATIC
  src/recognizer/audio_queue.cpp
  src/recognizer/model_load.cpp
  src/recognizer/recognition_service.cpp
  src/recognizer/recognition_worker.cpp
  src/recognizer/recognizer_threads.cpp
  src/recognizer/resampler.cpp
)
target_include_directories(mic_recognizer PUBLIC src)
target_link_libraries(mic_recognizer PUBLIC mic_display_text mic_linux_system PRIVATE PkgConfig::SOXR)
mic_include_fence(mic_recognizer ROOM "the engine-neutral recognizer" FILES ${MIC_RECOGNIZER_FILES}
  FORBID "pocketsphinx|sphinxbase")

# The pocketsphinx engine: the one library that sees pocketsphinx, privately.
add_library(mic_pocketsphinx STATIC
  src/recognizer/pocketsphinx/language_model_dictionary.cpp
  src/recognizer/pocketsphinx/language_model_vocabulary.cpp
  src/recognizer/pocketsphinx/model_check.cpp
  src/recognizer/pocketsphinx/model_definition.cpp
  src/recognizer/pocketsphinx/model_file_reader.cpp
  src/recognizer/pocketsphinx/model_locator.cpp
  src/recognizer/pocketsphinx/pocketsphinx_handle.cpp
  src/recognizer/pocketsphinx/pocketsphinx_engine.cpp
  src/recognizer/pocketsphinx/pocketsphinx_decoder.cpp
  src/recognizer/pocketsphinx/segment_bound.cpp
  src/recognizer/pocketsphinx/senone_dump.cpp
  src/recognizer/pocketsphinx/sphinx_params.cpp
)
target_include_directories(mic_pocketsphinx PUBLIC src)
target_include_directories(mic_pocketsphinx SYSTEM PRIVATE ${POCKETSPHINX_EXISTING_INCLUDE_DIRS})
target_compile_options(mic_pocketsphinx PRIVATE ${POCKETSPHINX_CFLAGS_OTHER})
target_link_libraries(mic_pocketsphinx
  PUBLIC mic_recognizer mic_transcript mic_file_reader mic_platform_common
  PRIVATE ${POCKETSPHINX_LINK_LIBRARIES})

# The platform factory: joins the engine and the capture to the process's services.
add_library(mic_linux_platform STATIC src/platform/linux/linux_platform.cpp)
target_compile_definitions(mic_linux_platform PRIVATE
  MIC_POCKETSPHINX_MODEL_DIR="${POCKETSPHINX_MODEL_DIR}")
target_link_libraries(mic_linux_platform PUBLIC mic_linux_system mic_linux_capture mic_pocketsphinx)

add_executable(mic-transcriber src/app/main.cpp)
target_link_libraries(mic-transcriber PRIVATE mic_core mic_linux_platform)
install(TARGETS mic-transcriber RUNTIME DESTINATION bin)
