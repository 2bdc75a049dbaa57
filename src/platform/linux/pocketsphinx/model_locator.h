#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mic {

// The files of one installed pocketsphinx model.
struct ModelPaths {
  std::string name;           // the model directory's name, e.g. "en-us"
  std::string acousticModel;  // root/<name>/<name>
  std::string languageModel;  // root/<name>/<name>.lm.bin
  std::string dictionary;     // root/<name>/cmudict-<name>.dict
};

// Files the library needs in an acoustic model directory. Without one of them (or with a damaged
// one) the library exits the process or crashes instead of reporting an error.
const std::vector<std::string>& requiredAcousticModelFiles();

// The installed, complete model under `modelRoot` that serves the locale `identifier`, or nothing.
// Names compare case-insensitively with '_' and '-' alike; a codeset (".UTF-8") or modifier
// ("@euro") is ignored; a bare language finds its only model; "", "C" and "POSIX" mean en-us.
// The identifier is only matched against the directory's listing, never joined into a path.
std::optional<ModelPaths> locateModel(const std::string& modelRoot, const std::string& identifier);

}  // namespace mic
