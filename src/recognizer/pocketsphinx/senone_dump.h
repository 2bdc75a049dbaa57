#pragma once

#include <string>

#include "platform/status.h"
#include "recognizer/pocketsphinx/model_definition.h"
#include "recognizer/pocketsphinx/sphinx_params.h"

// The senone dump (sendump): the mixture weights quantized to bytes, after a header of
// length-prefixed strings. The library maps the file and walks it by counts of its own, sized by
// the means and the model definition, so the dump must agree with both.
namespace mic::model_files {

// sendump: its header strings, then as many weights as the counts imply. A failure names the file
// and its damage.
Status checkSenoneDump(const std::string& path, const GaussianShape& gaussians,
                       const DefinitionShape& definition);

}  // namespace mic::model_files
