#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

// The model definition (mdef): the phones and the senones of an acoustic model, in the binary
// ("BMDF") or the text ("0.3") form. The library reads the binary tables by the counts in their
// header and the text one line by line; a short file makes it read past its end.
namespace mic::model_files {

// The counts of a model definition that other files must agree with.
struct DefinitionShape {
  int32_t basePhones = 0;
  int32_t senones = 0;
};

// mdef, binary or text. A failure names the file and its damage.
Result<DefinitionShape> checkModelDefinition(const std::string& path);

}  // namespace mic::model_files
