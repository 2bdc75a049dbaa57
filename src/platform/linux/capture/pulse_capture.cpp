#include "platform/linux/capture/pulse_capture.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/mutex.h"

namespace mic {
namespace {

// A server that accepts the socket but never answers must not hang the program.
constexpr pa_usec_t kConnectTimeout = 5 * PA_USEC_PER_SEC;
constexpr auto kSettleWait = std::chrono::seconds(6);  // the timeout above, plus slack
constexpr auto kQueryWait = std::chrono::seconds(5);
constexpr auto kStreamWait = std::chrono::seconds(5);
// libpulse says its thread started even when pthread_create failed; ours must be seen running.
constexpr auto kLoopStartWait = std::chrono::seconds(2);
// Small fragments so the first buffers arrive within tens of milliseconds rather than the
// server's default of about two seconds.
constexpr pa_usec_t kFragment = 20 * PA_USEC_PER_MSEC;
// When its source goes, PulseAudio moves the stream or kills it, but PipeWire may leave it
// unlinked, silent and alive. A stream still unlinked this long after a change has lost its
// microphone; a move takes a few milliseconds.
constexpr pa_usec_t kUnlinkedGrace = 500 * PA_USEC_PER_MSEC;

PulseReach classify(int error) {
  switch (error) {
    case PA_ERR_ACCESS:
      return PulseReach::accessDenied;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
      return PulseReach::noServer;
    default:
      return PulseReach::failed;
  }
}

Status pulseError(int error) { return Status::failure(pa_strerror(error)); }

class LoopLock {
 public:
  // Locking from libpulse's own thread would deadlock: there the lock is already held.
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

class PulseServer final : public PulseConnection {
 public:
  PulseServer();
  ~PulseServer() override;

  void whenSettled(std::function<void(PulseReach)> handler) override;
  PulseReach waitSettled() override;

  // The default source's format and name, once the server told us; {0, 0} without one.
  AudioFormat waitFormat(std::string* sourceName);
  // The server's error code behind a failure, for pa_strerror.
  int error() const;
  // Null when the library could not even create its thread.
  pa_threaded_mainloop* loop() const { return loopRunning_ ? loop_ : nullptr; }
  pa_context* context() const { return context_; }

 private:
  struct Answer {
    PulseServer* server;
    std::function<void(PulseReach)> handler;
  };

  static void onContextState(pa_context* context, void* self);
  static void onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                               void* self);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
  static void onAnswer(pa_mainloop_api* api, pa_defer_event* event, void* answer);
  static void destroyAnswer(pa_mainloop_api*, pa_defer_event*, void* answer);
  static void onLoopAlive(pa_mainloop_api* api, pa_defer_event* event, void* self);
  bool loopAnswers();

  // These run on libpulse's thread (or in the constructor, before it starts).
  void settle(PulseReach reach, int error);
  void queryDefaultSource();
  void finishQuery();
  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  pa_threaded_mainloop* loop_ = nullptr;
  bool loopRunning_ = false;
  pa_context* context_ = nullptr;
  // libpulse's thread only.
  pa_time_event* connectTimer_ = nullptr;
  std::vector<std::function<void(PulseReach)>> settledHandlers_;
  AudioFormat foundFormat_;
  std::string foundSource_;
  // A loop whose thread never ran cannot be stopped or freed: it is left as it is.
  bool loopLost_ = false;

  mutable Mutex mutex_;
  CondVar changed_;
  bool settled_ GUARDED_BY(mutex_) = false;
  PulseReach reach_ GUARDED_BY(mutex_) = PulseReach::failed;
  int error_ GUARDED_BY(mutex_) = PA_ERR_UNKNOWN;
  bool queried_ GUARDED_BY(mutex_) = false;
  bool loopAlive_ GUARDED_BY(mutex_) = false;
  AudioFormat format_ GUARDED_BY(mutex_);
  std::string sourceName_ GUARDED_BY(mutex_);
};

PulseServer::PulseServer() {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) {
    settle(PulseReach::failed, PA_ERR_INTERNAL);
    return;
  }
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "mic-transcriber");
  pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
  context_ = pa_context_new_with_proplist(api(), "mic-transcriber", properties);
  pa_proplist_free(properties);
  if (!context_) {
    settle(PulseReach::failed, PA_ERR_INTERNAL);
  } else {
    pa_context_set_state_callback(context_, &PulseServer::onContextState, this);
    // Never spawn a server: with none running we fall back to ALSA instead.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      const int error = pa_context_errno(context_);
      settle(classify(error), error);
    } else {
      connectTimer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeout,
                                            &PulseServer::onConnectTimeout, this);
    }
  }
  // Queued before the thread exists, so that nothing here locks the loop while its thread is
  // still setting itself up.
  api()->defer_new(api(), &PulseServer::onLoopAlive, this);
  if (pa_threaded_mainloop_start(loop_) < 0 || !loopAnswers()) {
    settle(PulseReach::failed, PA_ERR_INTERNAL);
    return;
  }
  loopRunning_ = true;
}

bool PulseServer::loopAnswers() {
  MutexLock lock(mutex_);
  if (changed_.wait_for(lock, kLoopStartWait, [this]() REQUIRES(mutex_) { return loopAlive_; })) {
    return true;
  }
  loopLost_ = true;
  return false;
}

void PulseServer::onLoopAlive(pa_mainloop_api* api, pa_defer_event* event, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  api->defer_free(event);
  {
    MutexLock lock(self->mutex_);
    self->loopAlive_ = true;
  }
  self->changed_.notify_all();
}

PulseServer::~PulseServer() {
  if (loop_) {
    {
      LoopLock lock(loopRunning_ ? loop_ : nullptr);
      if (connectTimer_) {
        api()->time_free(connectTimer_);
        connectTimer_ = nullptr;
      }
      if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
      }
    }
    if (loopRunning_) pa_threaded_mainloop_stop(loop_);
    if (!loopLost_) pa_threaded_mainloop_free(loop_);
  }
}

void PulseServer::whenSettled(std::function<void(PulseReach)> handler) {
  if (!loopRunning_) {
    // Only when libpulse could not start its thread; the connection has failed already, and
    // the answer comes at once rather than on a thread the machine may not have.
    handler(PulseReach::failed);
    return;
  }
  LoopLock lock(loop_);
  auto* answer = new Answer{this, std::move(handler)};
  pa_defer_event* event = api()->defer_new(api(), &PulseServer::onAnswer, answer);
  api()->defer_set_destroy(event, &PulseServer::destroyAnswer);
}

void PulseServer::onAnswer(pa_mainloop_api* api, pa_defer_event* event, void* data) {
  auto* answer = static_cast<Answer*>(data);
  PulseServer* self = answer->server;
  auto handler = std::move(answer->handler);
  api->defer_free(event);  // deletes `answer`
  std::optional<PulseReach> reach;
  {
    MutexLock lock(self->mutex_);
    if (self->settled_) reach = self->reach_;
  }
  if (reach) {
    handler(*reach);
  } else {
    self->settledHandlers_.push_back(std::move(handler));
  }
}

void PulseServer::destroyAnswer(pa_mainloop_api*, pa_defer_event*, void* answer) {
  delete static_cast<Answer*>(answer);
}

PulseReach PulseServer::waitSettled() {
  MutexLock lock(mutex_);
  changed_.wait_for(lock, kSettleWait, [this]() REQUIRES(mutex_) { return settled_; });
  return settled_ ? reach_ : PulseReach::failed;
}

AudioFormat PulseServer::waitFormat(std::string* sourceName) {
  if (waitSettled() != PulseReach::connected) return {};
  MutexLock lock(mutex_);
  changed_.wait_for(lock, kQueryWait, [this]() REQUIRES(mutex_) { return queried_; });
  if (!queried_) return {};
  if (sourceName) *sourceName = sourceName_;
  return format_;
}

int PulseServer::error() const {
  MutexLock lock(mutex_);
  return error_;
}

void PulseServer::settle(PulseReach reach, int error) {
  {
    MutexLock lock(mutex_);
    if (settled_) return;
    settled_ = true;
    reach_ = reach;
    error_ = error;
    if (reach != PulseReach::connected) queried_ = true;
  }
  changed_.notify_all();
  if (connectTimer_) {
    api()->time_free(connectTimer_);
    connectTimer_ = nullptr;
  }
  auto handlers = std::move(settledHandlers_);
  settledHandlers_.clear();
  for (auto& handler : handlers) handler(reach);
}

void PulseServer::onContextState(pa_context* context, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      self->settle(PulseReach::connected, PA_OK);
      self->queryDefaultSource();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      const int error = pa_context_errno(context);
      self->settle(classify(error), error);
      {
        // Also the end of a connection that worked: the server went away.
        MutexLock lock(self->mutex_);
        self->error_ = error ? error : PA_ERR_CONNECTIONTERMINATED;
        self->queried_ = true;
      }
      self->changed_.notify_all();
      break;
    }
    default:
      break;
  }
}

void PulseServer::onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                   void* data) {
  auto* self = static_cast<PulseServer*>(data);
  api->time_free(event);
  self->connectTimer_ = nullptr;
  self->settle(PulseReach::failed, PA_ERR_TIMEOUT);
  pa_context_disconnect(self->context_);
}

void PulseServer::queryDefaultSource() {
  if (pa_operation* op = pa_context_get_server_info(context_, &PulseServer::onServerInfo, this)) {
    pa_operation_unref(op);
  } else {
    finishQuery();
  }
}

void PulseServer::onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  if (!info || !info->default_source_name) {
    self->finishQuery();
    return;
  }
  if (pa_operation* op = pa_context_get_source_info_by_name(context, info->default_source_name,
                                                            &PulseServer::onSourceInfo, self)) {
    pa_operation_unref(op);
  } else {
    self->finishQuery();
  }
}

void PulseServer::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  if (eol == 0 && info) {
    // A monitor is what an output plays, named the default when a machine has no microphone:
    // listening to it would transcribe the computer's own sound. A source made from a monitor
    // (a remap or loopback source) is not one itself, and is a microphone like any other.
    if (info->monitor_of_sink == PA_INVALID_INDEX) {
      self->foundFormat_ = {static_cast<double>(info->sample_spec.rate),
                            info->sample_spec.channels};
    }
    self->foundSource_ = info->name ? info->name : "";
    return;
  }
  self->finishQuery();
}

void PulseServer::finishQuery() {
  {
    MutexLock lock(mutex_);
    if (queried_) return;
    queried_ = true;
    format_ = foundFormat_;
    sourceName_ = foundSource_;
  }
  changed_.notify_all();
}

class PulseCapture final : public CaptureSource {
 public:
  explicit PulseCapture(std::shared_ptr<PulseServer> server) : server_(std::move(server)) {}
  ~PulseCapture() override { stop(); }

  AudioFormat format() override { return server_->waitFormat(nullptr); }
  Status start(AudioFormat format, FrameCollector& collector,
               std::function<void()> onEnded) override;
  void stop() override;
  bool isRunning() const override { return running_.load(); }

 private:
  enum class StreamState { idle, connecting, ready, ended };

  static void onStreamState(pa_stream* stream, void* self);
  static void onRead(pa_stream* stream, size_t, void* self);
  static void onServerEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                            void* self);
  static void onLinkInfo(pa_context* context, const pa_source_output_info* info, int eol,
                         void* self);
  static void onUnlinkedTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                void* self);
  static void onMoved(pa_stream* stream, void* self);
  static void onMovedToSource(pa_context* context, const pa_source_info* info, int eol,
                              void* self);
  // These run on libpulse's thread.
  void checkLink(bool confirming);
  void cancelMoveQuery();
  void endedByItself();
  void releaseStream();  // with the loop locked

  std::shared_ptr<PulseServer> server_;
  // Guarded by the loop's lock.
  pa_stream* stream_ = nullptr;
  FrameCollector* collector_ = nullptr;
  std::function<void()> onEnded_;
  pa_operation* linkQuery_ = nullptr;
  bool confirmingUnlinked_ = false;  // what the query in flight is for
  pa_time_event* unlinkedTimer_ = nullptr;
  pa_operation* moveQuery_ = nullptr;  // what the stream was moved to

  Mutex mutex_;
  CondVar changed_;
  StreamState state_ GUARDED_BY(mutex_) = StreamState::idle;
  int streamError_ GUARDED_BY(mutex_) = PA_OK;
  std::atomic<bool> running_ = false;
};

Status PulseCapture::start(AudioFormat format, FrameCollector& collector,
                           std::function<void()> onEnded) {
  if (running_) return {};
  stop();
  std::string source;
  server_->waitFormat(&source);
  pa_threaded_mainloop* loop = server_->loop();
  if (server_->waitSettled() != PulseReach::connected || !loop) return pulseError(server_->error());
  if (format.channelCount > PA_CHANNELS_MAX) return pulseError(PA_ERR_NOTSUPPORTED);
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(format.sampleRate),
                            static_cast<uint8_t>(format.channelCount)};
  if (!pa_sample_spec_valid(&spec)) return pulseError(PA_ERR_INVALID);
  pa_channel_map map;
  pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);

  {
    LoopLock lock(loop);
    pa_context* context = server_->context();
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
      const int error = pa_context_errno(context);
      return pulseError(error ? error : PA_ERR_CONNECTIONTERMINATED);
    }
    stream_ = pa_stream_new(context, "microphone", &spec, &map);
    if (!stream_) return pulseError(pa_context_errno(context));
    collector_ = &collector;
    onEnded_ = std::move(onEnded);
    {
      MutexLock stateLock(mutex_);
      state_ = StreamState::connecting;
      streamError_ = PA_OK;
    }
    pa_stream_set_state_callback(stream_, &PulseCapture::onStreamState, this);
    pa_stream_set_read_callback(stream_, &PulseCapture::onRead, this);
    pa_stream_set_moved_callback(stream_, &PulseCapture::onMoved, this);
    // Changes of our stream tell when it lost its source without being killed.
    pa_context_set_subscribe_callback(context, &PulseCapture::onServerEvent, this);
    if (pa_operation* op =
            pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT, nullptr, nullptr)) {
      pa_operation_unref(op);
    }
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragment, &spec));
    if (pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attributes,
                                 PA_STREAM_ADJUST_LATENCY) < 0) {
      const int error = pa_context_errno(context);
      releaseStream();
      return pulseError(error);
    }
  }

  int error = PA_ERR_TIMEOUT;
  {
    MutexLock stateLock(mutex_);
    changed_.wait_for(stateLock, kStreamWait,
                      [this]() REQUIRES(mutex_) { return state_ != StreamState::connecting; });
    if (state_ == StreamState::ready) return {};
    if (state_ == StreamState::ended) error = streamError_;
  }
  stop();
  return pulseError(error ? error : PA_ERR_UNKNOWN);
}

void PulseCapture::stop() {
  if (pa_threaded_mainloop* loop = server_->loop()) {
    LoopLock lock(loop);
    releaseStream();
  }
  running_ = false;
}

void PulseCapture::releaseStream() {
  if (linkQuery_) {
    pa_operation_cancel(linkQuery_);
    pa_operation_unref(linkQuery_);
    linkQuery_ = nullptr;
  }
  if (unlinkedTimer_) {
    pa_threaded_mainloop_get_api(server_->loop())->time_free(unlinkedTimer_);
    unlinkedTimer_ = nullptr;
  }
  cancelMoveQuery();
  if (stream_) {
    pa_context_set_subscribe_callback(server_->context(), nullptr, nullptr);
    // Holding the loop's lock, no callback is running; with them cleared none will run again.
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  collector_ = nullptr;
  onEnded_ = nullptr;
  MutexLock lock(mutex_);
  state_ = StreamState::idle;
}

void PulseCapture::onStreamState(pa_stream* stream, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state != PA_STREAM_READY && state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) {
    return;
  }
  bool wasReady = false;
  {
    MutexLock lock(self->mutex_);
    wasReady = self->state_ == StreamState::ready;
    if (state == PA_STREAM_READY) {
      self->state_ = StreamState::ready;
      self->running_ = true;
    } else {
      self->state_ = StreamState::ended;
      self->streamError_ = pa_context_errno(pa_stream_get_context(stream));
      self->running_ = false;
    }
  }
  self->changed_.notify_all();
  // Killed with no source left ("Entity killed"), or the server gone: capture is over. A failure
  // while connecting is start()'s to report.
  if (wasReady && state != PA_STREAM_READY) self->endedByItself();
}

void PulseCapture::endedByItself() {
  running_ = false;
  // Whatever the stream still delivers (an output's sound, after a move to its monitor) is not
  // the microphone's.
  collector_ = nullptr;
  if (auto onEnded = std::exchange(onEnded_, nullptr)) onEnded();
}

void PulseCapture::cancelMoveQuery() {
  if (moveQuery_) {
    pa_operation_cancel(moveQuery_);
    pa_operation_unref(moveQuery_);
    moveQuery_ = nullptr;
  }
}

void PulseCapture::onMoved(pa_stream* stream, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  // Only the latest move counts.
  self->cancelMoveQuery();
  self->moveQuery_ = pa_context_get_source_info_by_index(
      self->server_->context(), pa_stream_get_device_index(stream), &PulseCapture::onMovedToSource,
      self);
}

void PulseCapture::onMovedToSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  if (eol == 0 && info) {
    // With its microphone gone and an output left, the server records that output's monitor
    // instead: the microphone has gone as surely as when the stream is killed.
    if (info->monitor_of_sink != PA_INVALID_INDEX) self->endedByItself();
    return;
  }
  if (self->moveQuery_) {
    pa_operation_unref(self->moveQuery_);
    self->moveQuery_ = nullptr;
  }
}

void PulseCapture::onServerEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index,
                                 void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT ||
      (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE || !self->stream_ ||
      pa_stream_get_state(self->stream_) != PA_STREAM_READY ||
      index != pa_stream_get_index(self->stream_)) {
    return;
  }
  self->checkLink(false);
}

void PulseCapture::checkLink(bool confirming) {
  if (linkQuery_) {
    // An answer is on its way; a confirmation still needs an answer of its own.
    if (!confirming) return;
    pa_operation_cancel(linkQuery_);
    pa_operation_unref(linkQuery_);
    linkQuery_ = nullptr;
  }
  confirmingUnlinked_ = confirming;
  linkQuery_ = pa_context_get_source_output_info(server_->context(), pa_stream_get_index(stream_),
                                                 &PulseCapture::onLinkInfo, this);
}

void PulseCapture::onLinkInfo(pa_context*, const pa_source_output_info* info, int eol, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  if (eol == 0 && info) {
    const bool unlinked = info->source == PA_INVALID_INDEX;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(self->server_->loop());
    if (!unlinked) {
      if (self->unlinkedTimer_) {
        api->time_free(self->unlinkedTimer_);
        self->unlinkedTimer_ = nullptr;
      }
    } else if (self->confirmingUnlinked_) {
      self->endedByItself();
    } else if (!self->unlinkedTimer_) {
      self->unlinkedTimer_ =
          pa_context_rttime_new(self->server_->context(), pa_rtclock_now() + kUnlinkedGrace,
                                &PulseCapture::onUnlinkedTimeout, self);
    }
    return;
  }
  // The end of the answer (or a failed query, when the stream is gone already).
  if (self->linkQuery_) {
    pa_operation_unref(self->linkQuery_);
    self->linkQuery_ = nullptr;
  }
}

void PulseCapture::onUnlinkedTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                     void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  api->time_free(event);
  self->unlinkedTimer_ = nullptr;
  if (self->stream_) self->checkLink(true);
}

void PulseCapture::onRead(pa_stream* stream, size_t, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  for (;;) {
    const void* bytes = nullptr;
    size_t count = 0;
    if (pa_stream_peek(stream, &bytes, &count) < 0 || count == 0) return;
    if (self->collector_) {
      // Nothing may unwind into libpulse: a buffer that finds no memory on its way is lost.
      try {
        if (bytes) {
          self->collector_->append({static_cast<const std::byte*>(bytes), count});
        } else {
          self->collector_->appendSilence(count);  // a hole in the recording
        }
      } catch (const std::exception&) {
      }
    }
    pa_stream_drop(stream);
  }
}

}  // namespace

std::shared_ptr<PulseConnection> connectToPulseServer() { return std::make_shared<PulseServer>(); }

std::unique_ptr<CaptureSource> makePulseCaptureSource(std::shared_ptr<PulseConnection> connection) {
  return std::make_unique<PulseCapture>(
      std::static_pointer_cast<PulseServer>(std::move(connection)));
}

}  // namespace mic
