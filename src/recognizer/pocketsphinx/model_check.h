#pragma once

#include <string>

#include "platform/status.h"
#include "recognizer/pocketsphinx/model_locator.h"

namespace mic {

// Whether every file of `model` is present and sound. The library exits the process or crashes on
// a missing or damaged file instead of reporting an error, so this runs before every load. It reads
// headers and compares the size their counts imply with each file's real size; of the large
// language model and dictionary, only a header or the end. The failure names the first damaged
// file and what is wrong with it ("<path>: cut short"). With `vocabulary`, also the language
// model's words the check walked (see model_files::languageModelVocabulary), so that the load need
// not walk them again.
Status checkModel(const ModelPaths& model, std::string* vocabulary = nullptr);

namespace model_files {

// A text file that is not empty and ends with a line feed.
Status checkTextFile(const std::string& path);

}  // namespace model_files
}  // namespace mic
