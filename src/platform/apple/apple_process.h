#pragma once

#include <memory>

#include "platform/process.h"

namespace mic {

std::unique_ptr<Process> makeAppleProcess();

}  // namespace mic
