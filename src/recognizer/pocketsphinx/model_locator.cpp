#include "recognizer/pocketsphinx/model_locator.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "recognizer/pocketsphinx/model_check.h"

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

ModelPaths pathsFor(const fs::path& root, const std::string& name) {
  const fs::path dir = root / name;
  return {name, (dir / name).string(), (dir / (name + ".lm.bin")).string(),
          (dir / ("cmudict-" + name + ".dict")).string()};
}

}  // namespace

Result<ModelPaths> locateModel(const std::string& modelRoot, const std::string& identifier,
                               Status* searchFailed) {
  const Status none = Status::failure("no speech model for \"" + identifier + "\"");
  if (!isSafeName(identifier)) return none;
  // "en_US.UTF-8@euro" names the same language as "en_US".
  std::string key = normalized(identifier.substr(0, identifier.find_first_of(".@")));
  if (key.empty() && !identifier.empty()) return none;
  if (key.empty() || key == "c" || key == "posix") key = kDefaultModel;
  const bool bareLanguage = key.find('-') == std::string::npos;

  std::error_code ec;
  // No directory of models at all is no model; one that cannot be read is a failure.
  const auto failed = [&]() -> Result<ModelPaths> {
    if (searchFailed && ec != std::errc::no_such_file_or_directory &&
        ec != std::errc::not_a_directory) {
      *searchFailed = Status::failure(modelRoot + ": " + ec.message());
    }
    return none;
  };
  fs::directory_iterator it(modelRoot, ec);
  if (ec) return failed();
  std::vector<ModelPaths> matches;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return failed();
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || !isSafeName(name)) continue;
    const std::string candidate = normalized(name);
    if (candidate != key && !(bareLanguage && languageOf(candidate) == key)) continue;
    if (!fs::is_directory(it->path(), ec)) continue;  // a stray file or a dangling link
    ModelPaths model = pathsFor(modelRoot, name);
    if (candidate == key) return model;  // an exact name wins over a language match
    matches.push_back(std::move(model));
  }
  if (matches.size() == 1) return matches.front();
  // Of several models of one language only a sound one can serve: a damaged second copy does not
  // make the language ambiguous.
  std::erase_if(matches, [](const ModelPaths& model) { return !checkModel(model).ok(); });
  if (matches.size() == 1) return matches.front();
  return none;
}

}  // namespace mic
