#include "app/entry.h"
#include "app/event_line.h"

int main(int argc, char** argv) {
  // Never destroyed: threads of the platform may still run when the process exits.
  auto* services = mic::makePlatformServices().release();
  const mic::Platform platform = services->platform();
  const int status = mic::runEntry(argc, argv, platform, mic::emit);
  platform.process.exit(status);
  return status;
}
