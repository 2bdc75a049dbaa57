#include <exception>
#include <new>

#include "app/entry.h"
#include "app/event_line.h"
#include "platform/last_line.h"
#include "platform/platform.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
  // Before any library runs, and before a copy of the program is started, which inherits them.
  mic::guardStandardStreams();
  // Then: a copy that answers for its own permission requests may do the work.
  if (const auto status = mic::relaunchAsOwnResponsibleProcess(argv)) return *status;
  // This process does the work: a library that ends it still leaves the one terminal line.
  mic::installLastLine([](std::string_view text) {
    return mic::formatEventLine({"error", std::string(text)});
  });
  // Never destroyed: threads of the platform may still run when the process exits.
  auto* services = mic::makePlatformServices().release();
  const mic::Platform platform = services->platform();
  int status = 1;
  // The main thread's edge: what a handler could not turn into a failure of its own (memory or
  // threads running out) still ends the run with its one line. No ending has written one yet,
  // since every ending exits at once.
  try {
    status = mic::runEntry(argc, argv, platform, mic::emit);
  } catch (const std::bad_alloc&) {
    mic::emit("error", "out of memory");
  } catch (const std::exception& error) {
    mic::emit("error", error.what());
  }
  platform.process.exit(status);
  return status;
}
