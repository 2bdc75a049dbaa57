#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/status.h"

// Structure checks for the files of a pocketsphinx acoustic model. The library trusts the counts in
// a file's header: on a damaged file it reads past the end (and crashes, at load or later while
// decoding) or calls exit(). These checks read the headers and compare the size the counts imply
// with the file's real size, so a damaged model is turned down before the library sees it. They
// never read the large language model or dictionary whole: of those, only a header or the end.
// A failure names the file and its damage ("<path>: cut short").
namespace mic::model_files {

// The shape of a Gaussian parameter file (means, variances).
struct GaussianShape {
  int32_t codebooks = 0;
  int32_t features = 0;
  int32_t densities = 0;
  std::vector<int32_t> featureLengths;
  bool operator==(const GaussianShape&) const = default;
};

// The counts of a model definition that other files must agree with.
struct DefinitionShape {
  int32_t basePhones = 0;
  int32_t senones = 0;
};

// means / variances: header, counts, the floats they imply, checksum, and nothing more.
Result<GaussianShape> checkGaussians(const std::string& path);

// transition_matrices: every condition on which the library exits rather than failing.
Status checkTransitionMatrices(const std::string& path);

// mixture_weights: header, counts, floats, checksum, nothing more; `features` from the means.
Status checkMixtureWeights(const std::string& path, int32_t features);

// mdef, binary ("BMDF") or text ("0.3").
Result<DefinitionShape> checkModelDefinition(const std::string& path);

// sendump: its header strings, then as many weights as the counts imply.
Status checkSenoneDump(const std::string& path, const GaussianShape& gaussians,
                       const DefinitionShape& definition);

// A binary trie language model ("Trie Language Model" header) ends in its vocabulary: a length,
// then exactly as many NUL-terminated words as it counts unigrams. The library reads those words
// without bounds, so a short file makes it read past its buffer. Other formats pass unchecked.
Status checkLanguageModel(const std::string& path);
// The same check, and the vocabulary it walked: the words, each ended by a NUL. Empty for a
// language model in another format.
Result<std::string> languageModelVocabulary(const std::string& path);

// The whole of a model file, read as the checks read it (a failure names the file).
Result<std::string> fileContents(const std::string& path);

// A text file that is not empty and ends with a line feed.
Status checkTextFile(const std::string& path);

// All of the above for an acoustic model directory (and its mixture weights or senone dump).
Status checkAcousticModel(const std::string& directory);

}  // namespace mic::model_files
