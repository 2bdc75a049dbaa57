#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_input.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace mic {

// libpulse's threaded-mainloop lock, as a capability the thread-safety analysis knows. libpulse
// runs every callback on its own thread with the lock held; there taking it again would
// deadlock, so lock() does nothing on that thread, nor before the loop runs.
class CAPABILITY("mutex") LoopMutex {
 public:
  // Once its thread runs: before that there is nobody to exclude.
  void attach(pa_threaded_mainloop* loop) { loop_ = loop; }
  void lock() ACQUIRE() {
    if (loop_ && !pa_threaded_mainloop_in_thread(loop_)) pa_threaded_mainloop_lock(loop_);
  }
  void unlock() RELEASE() {
    if (loop_ && !pa_threaded_mainloop_in_thread(loop_)) pa_threaded_mainloop_unlock(loop_);
  }
  // In a libpulse callback, which runs with the lock held.
  void heldByCallback() const ASSERT_CAPABILITY(this) {}

 private:
  pa_threaded_mainloop* loop_ = nullptr;
};

// Holds libpulse's loop lock for its scope.
class SCOPED_CAPABILITY LoopLock {
 public:
  explicit LoopLock(LoopMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~LoopLock() RELEASE() { mutex_.unlock(); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  LoopMutex& mutex_;
};

// The source to record as the server described it: a microphone's name, its own format and what
// each of its channels is.
struct ChosenSource {
  std::string name;
  AudioFormat format;
  pa_channel_map channelMap{};
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

  // The source to record, once the server told us: the one PULSE_SOURCE names when it is set and
  // not empty (the person's own choice, used as named, a monitor too), else the server's default.
  // Nothing when the server has no such source, or when its default is an output's monitor; a
  // failure when the question could not be asked or answered (the connection is gone, memory ran
  // out), with the reason. May wait a bounded time. Main thread.
  using SourceAnswer = Result<std::optional<ChosenSource>>;
  SourceAnswer waitSource();
  // Why the connection is not usable now: the server's last error. A failure always.
  Status lastError() const;

  // Null when the library could not even create its thread.
  pa_threaded_mainloop* loop() const { return loopRunning_ ? loop_ : nullptr; }
  pa_context* context() const { return context_; }
  // Held by libpulse's thread while it runs a callback; a stream's state is guarded by it.
  LoopMutex& loopMutex() RETURN_CAPABILITY(loopMutex_) { return loopMutex_; }

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
  void settle(Reach reach, int error) REQUIRES(loopMutex_);
  void querySource() REQUIRES(loopMutex_);
  void askSource(const char* name) REQUIRES(loopMutex_);
  void queryFailed() REQUIRES(loopMutex_);
  void finishQuery() REQUIRES(loopMutex_);
  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  pa_threaded_mainloop* loop_ = nullptr;
  bool loopRunning_ = false;
  pa_context* context_ = nullptr;
  LoopMutex loopMutex_;
  // PULSE_SOURCE, read once before libpulse's thread starts; empty for the server's default.
  std::string namedSource_;
  // Touched on libpulse's thread, or before it starts.
  pa_time_event* connectTimer_ GUARDED_BY(loopMutex_) = nullptr;
  std::vector<std::function<void(const Status&)>> settledHandlers_ GUARDED_BY(loopMutex_);
  SourceAnswer found_ GUARDED_BY(loopMutex_) = std::optional<ChosenSource>();
  // A loop whose thread never ran cannot be stopped or freed: it is left as it is.
  bool loopLost_ = false;

  mutable Mutex mutex_;
  CondVar changed_;
  bool settled_ GUARDED_BY(mutex_) = false;
  Reach reach_ GUARDED_BY(mutex_) = Reach::failed;
  int error_ GUARDED_BY(mutex_) = PA_ERR_UNKNOWN;
  bool queried_ GUARDED_BY(mutex_) = false;
  bool loopAlive_ GUARDED_BY(mutex_) = false;
  SourceAnswer source_ GUARDED_BY(mutex_) = std::optional<ChosenSource>();
};

}  // namespace mic
