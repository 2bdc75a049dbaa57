#include "platform/linux/pocketsphinx/model_locator.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/linux/pocketsphinx/model_files.h"

namespace mic {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultModel = "en-us";

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Only what a locale name or a model directory name can hold; no separators, no "..".
bool isSafeName(const std::string& name) {
  if (name.find("..") != std::string::npos) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return isAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || c == '@';
  });
}

// Lower case with '_' and '-' alike.
std::string normalized(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '_') c = '-';
  }
  return name;
}

std::string languageOf(const std::string& normalizedName) {
  return normalizedName.substr(0, normalizedName.find('-'));
}

bool isNonEmptyFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const auto size = fs::file_size(path, ec);
  return !ec && size > 0;
}

bool isComplete(const ModelPaths& model) {
  const fs::path acoustic = model.acousticModel;
  for (const auto& file : requiredAcousticModelFiles()) {
    if (!isNonEmptyFile(acoustic / file)) return false;
  }
  if (!isNonEmptyFile(acoustic / "sendump") && !isNonEmptyFile(acoustic / "mixture_weights")) {
    return false;
  }
  if (!isNonEmptyFile(model.languageModel) || !isNonEmptyFile(model.dictionary)) return false;
  // The library crashes or exits on a damaged file instead of failing, so the structure of
  // every file it parses is checked first (headers and sizes only: this runs at every start).
  return model_files::acousticModelIsIntact(model.acousticModel) &&
         model_files::languageModelVocabularyIsIntact(model.languageModel) &&
         model_files::endsWithLineFeed(model.dictionary);
}

ModelPaths pathsFor(const fs::path& root, const std::string& name) {
  const fs::path dir = root / name;
  return {name, (dir / name).string(), (dir / (name + ".lm.bin")).string(),
          (dir / ("cmudict-" + name + ".dict")).string()};
}

}  // namespace

const std::vector<std::string>& requiredAcousticModelFiles() {
  static const std::vector<std::string> files = {
      "mdef", "means", "variances", "transition_matrices", "feat.params", "noisedict"};
  return files;
}

std::optional<ModelPaths> locateModel(const std::string& modelRoot, const std::string& identifier) {
  if (!isSafeName(identifier)) return std::nullopt;
  // "en_US.UTF-8@euro" names the same language as "en_US".
  std::string key = normalized(identifier.substr(0, identifier.find_first_of(".@")));
  if (key.empty() && !identifier.empty()) return std::nullopt;
  if (key.empty() || key == "c" || key == "posix") key = kDefaultModel;
  const bool bareLanguage = key.find('-') == std::string::npos;

  std::error_code ec;
  fs::directory_iterator it(modelRoot, ec);
  if (ec) return std::nullopt;
  std::vector<ModelPaths> matches;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || !isSafeName(name)) continue;
    const std::string candidate = normalized(name);
    if (candidate != key && !(bareLanguage && languageOf(candidate) == key)) continue;
    ModelPaths model = pathsFor(modelRoot, name);
    if (!isComplete(model)) continue;
    if (candidate == key) return model;  // an exact name wins over a language match
    matches.push_back(std::move(model));
  }
  if (matches.size() != 1) return std::nullopt;
  return matches.front();
}

}  // namespace mic
