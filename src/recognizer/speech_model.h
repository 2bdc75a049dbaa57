#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "recognizer/decoder.h"

namespace mic {

// One installed model of a recognition engine, found for a language. Recognition knows an engine
// only through this: its check and its load. Both may run on any thread, several at once.
class SpeechModel {
 public:
  virtual ~SpeechModel() = default;

  // Whether every file of the model is present and sound; the failure names the first damaged file
  // and what is wrong with it. Engines tend to exit or crash on a damaged file, so nothing loads a
  // model that failed this. `reusable`, when given, receives what the check read that a load can
  // use instead of reading it again (empty if nothing).
  virtual Status check(std::string* reusable = nullptr) const = 0;
  // A decoder for the model: slow (a model load), so it runs on a recognizer thread. `reusable`:
  // what check handed back, or empty.
  virtual Result<std::unique_ptr<Decoder>> load(std::string_view reusable = {}) const = 0;
  // The language it recognizes, as a locale name ("en-us"): it picks the display text.
  virtual std::string language() const = 0;
};

// The model serving the locale `identifier`; null when none is installed for that language; a
// failure, with its reason, when the search itself failed (the models' directory could not be
// read, memory ran out).
using SpeechModelLocator =
    std::function<Result<std::shared_ptr<const SpeechModel>>(const std::string& identifier)>;

}  // namespace mic
