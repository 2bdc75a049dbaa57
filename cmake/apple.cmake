# The macOS platform: the Speech framework recognizes, AVAudioEngine captures, the system's main
# queue and run loop carry the work. Objective-C++ with ARC.
enable_language(OBJCXX)

file(GLOB MIC_APPLE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/apple/*.mm)
add_library(mic_apple_platform STATIC ${MIC_APPLE_SOURCES})
set_target_properties(mic_apple_platform PROPERTIES
  OBJCXX_STANDARD 20
  OBJCXX_STANDARD_REQUIRED ON
  OBJCXX_EXTENSIONS OFF)
target_compile_options(mic_apple_platform PRIVATE -fobjc-arc)
target_include_directories(mic_apple_platform PUBLIC src)

find_library(MIC_SPEECH_FRAMEWORK Speech REQUIRED)
find_library(MIC_AVFOUNDATION_FRAMEWORK AVFoundation REQUIRED)
find_library(MIC_FOUNDATION_FRAMEWORK Foundation REQUIRED)
target_link_libraries(mic_apple_platform PUBLIC mic_platform_common mic_apple_decisions mic_transcript
  ${MIC_SPEECH_FRAMEWORK} ${MIC_AVFOUNDATION_FRAMEWORK} ${MIC_FOUNDATION_FRAMEWORK}
  Threads::Threads)

# macOS kills a command-line tool that asks for speech recognition or the microphone without
# usage descriptions; a tool has no bundle, so its Info.plist goes into the binary itself.
set(MIC_INFO_PLIST ${CMAKE_CURRENT_BINARY_DIR}/Info.plist)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/src/platform/apple/Info.plist ${MIC_INFO_PLIST} @ONLY)

add_executable(mic-transcriber src/app/main.cpp)
target_link_libraries(mic-transcriber PRIVATE mic_core mic_apple_platform)
target_link_options(mic-transcriber PRIVATE
  "LINKER:-sectcreate,__TEXT,__info_plist,${MIC_INFO_PLIST}")
set_property(TARGET mic-transcriber APPEND PROPERTY LINK_DEPENDS ${MIC_INFO_PLIST})

# macOS keeps the speech and microphone answers for the code's designated requirement. For ad-hoc
# code that is the code's hash, so each rebuild is asked again and can even be refused while System
# Settings still shows the switch on; a certificate's identity (self-signed will do) keeps the
# answers across rebuilds. The identifier is the Info.plist's either way, for tccutil and for the
# requirement itself.
set(MIC_CODESIGN_IDENTITY "-" CACHE STRING
  "Code-signing identity for the program: \"-\" signs ad hoc, or a certificate's name in the keychain")
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/apple/Info.plist MIC_INFO_PLIST_TEXT)
string(REGEX MATCH "<key>CFBundleIdentifier</key>[ \t\r\n]*<string>([^<]+)</string>" _
             "${MIC_INFO_PLIST_TEXT}")
set(MIC_BUNDLE_IDENTIFIER ${CMAKE_MATCH_1})
if(NOT MIC_BUNDLE_IDENTIFIER)
  message(FATAL_ERROR "no CFBundleIdentifier in src/platform/apple/Info.plist")
endif()
if(MIC_CODESIGN_IDENTITY STREQUAL "")
  message(FATAL_ERROR "MIC_CODESIGN_IDENTITY must name an identity, or be - to sign ad hoc")
endif()
find_program(MIC_CODESIGN codesign REQUIRED)
add_custom_command(TARGET mic-transcriber POST_BUILD
  COMMAND ${MIC_CODESIGN} -f -s "${MIC_CODESIGN_IDENTITY}" -i ${MIC_BUNDLE_IDENTIFIER}
          $<TARGET_FILE:mic-transcriber>
  COMMENT "Signing mic-transcriber as ${MIC_BUNDLE_IDENTIFIER} with identity ${MIC_CODESIGN_IDENTITY}"
  VERBATIM)
install(TARGETS mic-transcriber RUNTIME DESTINATION bin)
