#include "platform/linux/pocketsphinx_decoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace mic {
namespace {

// The last error the library logged on this thread: the library reports failures only there.
thread_local std::string lastLibraryError;

// Drops the library's "ERROR: \"file.c\", line 12: " prefix; the rest is the useful sentence.
std::string withoutSourcePrefix(std::string message) {
  const auto line = message.find("\", line ");
  if (line != std::string::npos) {
    const auto text = message.find(": ", line);
    if (text != std::string::npos) message.erase(0, text + 2);
  }
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return message;
}

extern "C" void captureLibraryLog(void*, err_lvl_t level, const char* format, ...) {
  if (level != ERR_ERROR && level != ERR_FATAL) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  lastLibraryError = withoutSourcePrefix(text);
}

std::mutex& loadMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void silencePocketSphinxLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(captureLibraryLog, nullptr);
  });
}

std::variant<std::unique_ptr<PocketSphinxDecoder>, std::string> PocketSphinxDecoder::load(
    const ModelPaths& model, const std::vector<std::string>& extraArguments) {
  silencePocketSphinxLog();
  std::lock_guard lock(loadMutex());
  lastLibraryError.clear();
  std::vector<std::string> args = {"-hmm",   model.acousticModel, "-lm",       model.languageModel,
                                   "-dict",  model.dictionary,    "-samprate", "16000",
                                   "-logfn", "/dev/null"};
  args.insert(args.end(), extraArguments.begin(), extraArguments.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  cmd_ln_t* config =
      cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
  if (!config) {
    return "speech model configuration failed" +
           (lastLibraryError.empty() ? std::string() : ": " + lastLibraryError);
  }
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);  // the decoder keeps its own reference
  if (!decoder) {
    return "speech model could not be loaded" +
           (lastLibraryError.empty() ? std::string() : ": " + lastLibraryError);
  }
  return std::unique_ptr<PocketSphinxDecoder>(new PocketSphinxDecoder(decoder));
}

PocketSphinxDecoder::~PocketSphinxDecoder() { ps_free(decoder_); }

std::string PocketSphinxDecoder::failure(const char* what) {
  std::string description = std::string("speech recognition failed: ") + what;
  if (!lastLibraryError.empty()) description += ": " + lastLibraryError;
  lastLibraryError.clear();
  return description;
}

std::string PocketSphinxDecoder::startUtterance() {
  return ps_start_utt(decoder_) < 0 ? failure("could not start") : std::string();
}

std::string PocketSphinxDecoder::process(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  const int result = ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, FALSE);
  return result < 0 ? failure("could not process audio") : std::string();
}

std::string PocketSphinxDecoder::endUtterance() {
  return ps_end_utt(decoder_) < 0 ? failure("could not finish") : std::string();
}

std::string PocketSphinxDecoder::hypothesis() {
  const char* text = ps_get_hyp(decoder_, nullptr);
  return text ? text : "";
}

}  // namespace mic
