#include "recognizer/pocketsphinx/pocketsphinx_handle.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/last_line.h"
#include "platform/mutex.h"
#include "recognizer/pocketsphinx/language_model_dictionary.h"

namespace mic {
namespace {

static_assert(std::is_same_v<mfcc_t, float>, "the default mean is kept as float");

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

// The library's printf-style message, filled in; the size comes from a first pass.
std::string formatted(const char* format, va_list args) {
  va_list sizing;
  va_copy(sizing, args);
  const int length = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (length <= 0) return {};
  std::string out(static_cast<size_t>(length), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

extern "C" void captureLibraryLog(void*, err_lvl_t level, const char* format, ...) {
  if (level != ERR_ERROR && level != ERR_FATAL) return;
  va_list args;
  va_start(args, format);
  // No exception may cross the library's C frames.
  try {
    lastLibraryError = withoutSourcePrefix(formatted(format, args));
    // The library calls exit() right after a fatal error: these are the run's last words.
    if (level == ERR_FATAL) setLastWords("speech recognition failed: " + lastLibraryError);
  } catch (const std::exception&) {
    // No memory for the words: the failure is still reported, without them.
  }
  va_end(args);
}

// Loads are serialized: the library keeps its log target in global state.
Mutex& loadMutex() {
  static Mutex mutex;
  return mutex;
}

}  // namespace

std::string takePocketSphinxError() { return std::exchange(lastLibraryError, {}); }

void silencePocketSphinxLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(captureLibraryLog, nullptr);
  });
}

Result<std::unique_ptr<PocketSphinxHandle>> PocketSphinxHandle::load(const ModelPaths& model,
                                                                     std::string_view vocabulary) {
  silencePocketSphinxLog();
  MutexLock lock(loadMutex());
  lastLibraryError.clear();
  // The word-exit table starts large enough for a minute of speech. The library grows it lazily,
  // and a partial asked for in the frame after it filled exactly trips one of its assertions
  // (abort, no line: seen once in a 29 s segment). On a heap grown ahead for large pages the C
  // library clears it at load; otherwise its pages are only touched as they are used.
  //
  // The voice activity detector ends speech after 0.3 s of silence instead of 0.5 s: every frame
  // until then goes through the full search, and a run always ends in a pause. A pause that long
  // inside speech only starts a new segment, which loses no audio, and costs no words
  // (bench/README.md, "Where the instructions go", has the figures).
  //
  // No flat-lexicon second pass: it re-searches the whole segment when the segment ends, which
  // is most of what ending a segment costs (about half, more in noise), while the worker can
  // report nothing and the pause waits. On the accuracy set it cost words rather than saving them;
  // the lattice's best path, which does save words, stays (bench/README.md, "Long speech").
  //
  // The search is narrowed where that costs no word (bench/README.md, "The decoder's search"
  // has the sweep; bench/search_sweep.py measures a change): at most 4000 HMMs active per frame
  // (the library allows 30000) and a word-exit beam of 1e-23 (the library's is 7e-29). The
  // paths they cut never won on the accuracy sets, and every path kept costs its senones'
  // scoring and its evaluation in each frame, most of the decoder's work. The other beams, the
  // lookahead window, the Gaussians scored, the cap on words per frame and frame downsampling
  // keep the library's defaults: each narrower value measured cost words on some set or saved
  // nothing.
  const auto dictionary =
      LanguageModelDictionary::make(model.dictionary, model.languageModel, vocabulary);
  const std::pair<const char*, std::string> options[] = {
      {"-hmm", model.acousticModel},
      {"-lm", model.languageModel},
      {"-dict", dictionary ? dictionary->path() : model.dictionary},
      {"-samprate", "16000"},
      {"-latsize", "100000"},
      {"-vad_postspeech", "30"},
      {"-fwdflat", "no"},
      {"-maxhmmpf", "4000"},
      {"-wbeam", "1e-23"},
      {"-logfn", "/dev/null"}};
  std::vector<std::string> args;
  for (const auto& [name, value] : options) {
    args.push_back(name);
    args.push_back(value);
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  cmd_ln_t* config =
      cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
  if (!config) return failure("speech model configuration failed");
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);  // the decoder keeps its own reference
  if (!decoder) return failure("speech model could not be loaded");
  std::unique_ptr<PocketSphinxHandle> loaded(new PocketSphinxHandle(decoder));
  if (cmn_t* mean = ps_get_feat(decoder)->cmn_struct) {
    loaded->defaultMean_.resize(static_cast<size_t>(mean->veclen));
    cmn_live_get(mean, loaded->defaultMean_.data());
  }
  return loaded;
}

PocketSphinxHandle::~PocketSphinxHandle() { ps_free(decoder_); }

Status PocketSphinxHandle::failure(const char* what) {
  std::string description = what;
  if (auto reason = takePocketSphinxError(); !reason.empty()) description += ": " + reason;
  return Status::failure(std::move(description));
}

Status PocketSphinxHandle::startSegment() {
  return ps_start_utt(decoder_) < 0 ? failure("speech recognition failed: could not start")
                                    : Status();
}

Status PocketSphinxHandle::process(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  const int result = ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, FALSE);
  return result < 0 ? failure("speech recognition failed: could not process audio") : Status();
}

Status PocketSphinxHandle::endSegment() {
  return ps_end_utt(decoder_) < 0 ? failure("speech recognition failed: could not finish")
                                  : Status();
}

std::string PocketSphinxHandle::hypothesis() {
  const char* text = ps_get_hyp(decoder_, nullptr);
  return text ? text : "";
}

// The library sums the features of every speech frame it hears but moves its mean only when a
// segment ends (or every eight seconds), so a whole first segment is decoded with the model's
// default. Here the mean follows the running sum from the start, with the default counting as
// `defaultWeightFrames` frames so that the first few frames, mostly the onset of a word, cannot
// pull it far.
void PocketSphinxHandle::followSpeakerMean(double defaultWeightFrames) {
  cmn_t* mean = ps_get_feat(decoder_)->cmn_struct;
  if (!mean || mean->nframe <= 0 || defaultMean_.size() != static_cast<size_t>(mean->veclen)) {
    return;
  }
  const double frames = mean->nframe;
  for (size_t i = 0; i < defaultMean_.size(); ++i) {
    mean->cmn_mean[i] = static_cast<mfcc_t>((defaultMean_[i] * defaultWeightFrames + mean->sum[i]) /
                                            (defaultWeightFrames + frames));
  }
}

bool PocketSphinxHandle::inSpeech() { return ps_get_in_speech(decoder_) != 0; }

}  // namespace mic
