#pragma once

#include <functional>
#include <memory>

#include "platform/linux/capture/capture_source.h"

namespace mic {

// How a connection to the sound server (PulseAudio, or PipeWire through pipewire-pulse) ended up.
enum class PulseReach {
  connected,
  noServer,      // nothing listens where the server should be: a bare-ALSA system
  accessDenied,  // a server is there but refuses us (a sandbox): the microphone is not permitted
  failed,        // anything else, such as a server that never answers
};

// One connection to the sound server, shared by the microphone-access answer and the engine so
// the server is reached once per process. Connecting begins at creation and never spawns a
// server. Nothing is written to stderr.
class PulseConnection {
 public:
  virtual ~PulseConnection() = default;
  // Calls `handler` once on libpulse's thread when the connection attempt has ended, connected or
  // not; at once on the caller's thread when libpulse's thread could not start.
  virtual void whenSettled(std::function<void(PulseReach)> handler) = 0;
  // Waits, for a bounded time, until the connection attempt has ended. Main thread.
  virtual PulseReach waitSettled() = 0;
};

std::shared_ptr<PulseConnection> connectToPulseServer();

// Captures the server's default source through `connection`.
std::unique_ptr<CaptureSource> makePulseCaptureSource(std::shared_ptr<PulseConnection> connection);

}  // namespace mic
