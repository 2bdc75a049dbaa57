#include "recognizer/pocketsphinx/model_check.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "recognizer/pocketsphinx/language_model_vocabulary.h"
#include "recognizer/pocketsphinx/model_definition.h"
#include "recognizer/pocketsphinx/model_file_reader.h"
#include "recognizer/pocketsphinx/senone_dump.h"
#include "recognizer/pocketsphinx/sphinx_params.h"

namespace mic {
namespace model_files {
namespace {

Status textFileIn(const std::string& path) {
  // A heuristic: these are line-oriented text files the library reads to their end, so a cut in
  // the middle of a line is the usual sign of a short copy. A cut that falls just after a line
  // feed goes unnoticed.
  const File file(path);
  const auto last = file.read(file.size() - 1, 1);
  if (!last) return last.status();
  if (*last != "\n") return damage("cut short in a line");
  return {};
}

// The files of an acoustic model directory (and its mixture weights or senone dump).
Status checkAcousticModel(const std::string& directory) {
  const std::string dir = directory + "/";
  const auto means = checkGaussians(dir + "means");
  if (!means) return means.status();
  const auto variances = checkGaussians(dir + "variances");
  if (!variances) return variances.status();
  // The library exits when the two disagree.
  if (!(*means == *variances)) {
    return Status::failure(dir + "variances: shape differs from the means'");
  }
  if (Status s = checkTransitionMatrices(dir + "transition_matrices"); !s.ok()) return s;
  const auto definition = checkModelDefinition(dir + "mdef");
  if (!definition) return definition.status();
  if (Status s = checkTextFile(dir + "feat.params"); !s.ok()) return s;
  if (Status s = checkTextFile(dir + "noisedict"); !s.ok()) return s;

  // Either table of mixture weights will do; whichever is there must be sound.
  struct stat st {};
  const bool hasDump = ::lstat((dir + "sendump").c_str(), &st) == 0;
  const bool hasWeights = ::lstat((dir + "mixture_weights").c_str(), &st) == 0;
  if (!hasDump && !hasWeights) return Status::failure(dir + "sendump: missing");
  if (hasDump) {
    if (Status s = checkSenoneDump(dir + "sendump", *means, *definition); !s.ok()) return s;
  }
  if (hasWeights) return checkMixtureWeights(dir + "mixture_weights", means->features);
  return {};
}

}  // namespace

Status checkTextFile(const std::string& path) { return inFile(path, textFileIn(path)); }

}  // namespace model_files

Status checkModel(const ModelPaths& model, std::string* vocabulary) {
  std::error_code ec;
  if (!std::filesystem::is_directory(model.acousticModel, ec)) {
    return Status::failure(model.acousticModel + ": missing");
  }
  // Headers and sizes only: this runs at every start.
  if (Status s = model_files::checkAcousticModel(model.acousticModel); !s.ok()) return s;
  auto words = model_files::languageModelVocabulary(model.languageModel);
  if (!words) return words.status();
  if (vocabulary) *vocabulary = std::move(words).value();
  return model_files::checkTextFile(model.dictionary);
}

}  // namespace mic
