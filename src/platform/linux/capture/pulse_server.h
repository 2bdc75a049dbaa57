#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_input.h"
#include "platform/linux/status.h"
#include "platform/mutex.h"

namespace mic {

// The default source as the server described it: a microphone's name and its own format.
struct DefaultSource {
  std::string name;
  AudioFormat format;
};

// One connection to the sound server (PulseAudio, or PipeWire through pipewire-pulse), shared by
// the microphone-access answer and the capture so the server is reached once per process.
// Connecting begins at creation and never spawns a server. Nothing is written to stderr.
class PulseServer {
 public:
  PulseServer();
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Calls `handler` once on libpulse's thread when the connection attempt has ended, with success
  // or the server's reason; at once on the caller's thread when libpulse's thread could not start.
  void whenSettled(std::function<void(const Status&)> handler);
  // Waits, for a bounded time, until the connection attempt has ended: success once connected,
  // or the reason. Main thread.
  Status waitSettled();
  // After a failed attempt: nothing listens where the server should be (a bare-ALSA system).
  bool noServer() const;
  // After a failed attempt: a server is there but refuses us (a sandbox): the microphone is not
  // permitted.
  bool accessDenied() const;

  // The default source, once the server told us; a failure when there is none, when it is an
  // output's monitor, or when the connection is gone. May wait a bounded time. Main thread.
  Result<DefaultSource> waitDefaultSource();
  // Why the connection is not usable now: the server's last error. A failure always.
  Status lastError() const;

  // Null when the library could not even create its thread.
  pa_threaded_mainloop* loop() const { return loopRunning_ ? loop_ : nullptr; }
  pa_context* context() const { return context_; }

 private:
  enum class Reach { connected, noServer, accessDenied, failed };
  struct Answer {
    PulseServer* server;
    std::function<void(const Status&)> handler;
  };

  static Reach classify(int error);
  static void onContextState(pa_context* context, void* self);
  static void onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                               void* self);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
  static void onAnswer(pa_mainloop_api* api, pa_defer_event* event, void* answer);
  static void destroyAnswer(pa_mainloop_api*, pa_defer_event*, void* answer);
  static void onLoopAlive(pa_mainloop_api* api, pa_defer_event* event, void* self);
  bool loopAnswers();
  Status outcome() const REQUIRES(mutex_);

  // These run on libpulse's thread (or in the constructor, before it starts).
  void settle(Reach reach, int error);
  void queryDefaultSource();
  void finishQuery();
  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  pa_threaded_mainloop* loop_ = nullptr;
  bool loopRunning_ = false;
  pa_context* context_ = nullptr;
  // libpulse's thread only.
  pa_time_event* connectTimer_ = nullptr;
  std::vector<std::function<void(const Status&)>> settledHandlers_;
  Result<DefaultSource> found_ = Status::failure("the server names no default source");
  // A loop whose thread never ran cannot be stopped or freed: it is left as it is.
  bool loopLost_ = false;

  mutable Mutex mutex_;
  CondVar changed_;
  bool settled_ GUARDED_BY(mutex_) = false;
  Reach reach_ GUARDED_BY(mutex_) = Reach::failed;
  int error_ GUARDED_BY(mutex_) = PA_ERR_UNKNOWN;
  bool queried_ GUARDED_BY(mutex_) = false;
  bool loopAlive_ GUARDED_BY(mutex_) = false;
  Result<DefaultSource> source_ GUARDED_BY(mutex_) =
      Status::failure("the server names no default source");
};

// Holds libpulse's loop lock for its scope. Locking from libpulse's own thread would deadlock:
// there the lock is already held, and this does nothing.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop)
      : loop_(loop && !pa_threaded_mainloop_in_thread(loop) ? loop : nullptr) {
    if (loop_) pa_threaded_mainloop_lock(loop_);
  }
  ~LoopLock() {
    if (loop_) pa_threaded_mainloop_unlock(loop_);
  }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace mic
