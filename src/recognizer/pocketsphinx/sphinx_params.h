#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

// The Sphinx-3 parameter files of an acoustic model: a text header up to "endhdr", a byte-order
// mark, then counts and 32-bit floats, and a checksum when the header promises one. The library
// exits the process on anything in them it cannot parse, so these accept only what it parses and
// compare the size the counts imply with the file's. A failure names the file and its damage.
namespace mic::model_files {

// The shape of a Gaussian parameter file (means, variances).
struct GaussianShape {
  int32_t codebooks = 0;
  int32_t features = 0;
  int32_t densities = 0;
  std::vector<int32_t> featureLengths;
  bool operator==(const GaussianShape&) const = default;
};

// means / variances: header, counts, the floats they imply, checksum, and nothing more.
Result<GaussianShape> checkGaussians(const std::string& path);

// transition_matrices: every condition on which the library exits rather than failing.
Status checkTransitionMatrices(const std::string& path);

// mixture_weights: header, counts, floats, checksum, nothing more; `features` from the means.
Status checkMixtureWeights(const std::string& path, int32_t features);

}  // namespace mic::model_files
