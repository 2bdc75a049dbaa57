#pragma once

#include <string>

#include "platform/status.h"

namespace mic {

// The files of one installed pocketsphinx model.
struct ModelPaths {
  std::string name;           // the model directory's name, e.g. "en-us"
  std::string acousticModel;  // root/<name>/<name>
  std::string languageModel;  // root/<name>/<name>.lm.bin
  std::string dictionary;     // root/<name>/cmudict-<name>.dict
};

// The model directory under `modelRoot` that serves the locale `identifier`; a failure means no
// model for that language is installed. Names compare case-insensitively with '_' and '-' alike;
// a codeset (".UTF-8") or modifier ("@euro") is ignored; a bare language finds its only model
// (its only sound one, if several are installed); "", "C" and "POSIX" mean en-us. The identifier
// is only matched against the directory's listing, never joined into a path. The model found may
// still be damaged: checkModel (model_check.h) says. When the search itself fails (the directory
// exists but cannot be read: out of memory, an I/O error), `searchFailed` (when given) gets the
// system's reason: that is not a language without a model.
Result<ModelPaths> locateModel(const std::string& modelRoot, const std::string& identifier,
                               Status* searchFailed = nullptr);

}  // namespace mic
