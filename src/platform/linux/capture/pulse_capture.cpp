#include "platform/linux/capture/pulse_capture.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <string>
#include <utility>

#include "platform/mutex.h"

namespace mic {
namespace {

constexpr auto kStreamWait = std::chrono::seconds(5);
// Small fragments so the first buffers arrive within tens of milliseconds rather than the
// server's default of about two seconds.
constexpr pa_usec_t kFragment = 20 * PA_USEC_PER_MSEC;
// When its source goes, PulseAudio moves the stream or kills it, but PipeWire may leave it
// unlinked, silent and alive. A stream still unlinked this long after a change has lost its
// microphone; a move takes a few milliseconds.
constexpr pa_usec_t kUnlinkedGrace = 500 * PA_USEC_PER_MSEC;

Status pulseError(int error) { return Status::failure(pa_strerror(error)); }

class PulseCapture final : public CaptureSource {
 public:
  explicit PulseCapture(std::shared_ptr<PulseServer> server)
      : server_(std::move(server)), loopMutex_(server_->loopMutex()) {}
  ~PulseCapture() override { stop(); }

  Result<AudioFormat> format() override {
    const PulseServer::SourceAnswer source = server_->waitSource();
    if (!source) return source.status();
    return *source ? (*source)->format : AudioFormat{};
  }
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
  static void onMovedToSource(pa_context* context, const pa_source_info* info, int eol, void* self);
  // These run on libpulse's thread.
  void checkLink(bool confirming) REQUIRES(loopMutex_);
  void cancelMoveQuery() REQUIRES(loopMutex_);
  void endedByItself() REQUIRES(loopMutex_);
  void releaseStream() REQUIRES(loopMutex_);

  std::shared_ptr<PulseServer> server_;
  LoopMutex& loopMutex_;
  pa_stream* stream_ GUARDED_BY(loopMutex_) = nullptr;
  FrameCollector* collector_ GUARDED_BY(loopMutex_) = nullptr;
  std::function<void()> onEnded_ GUARDED_BY(loopMutex_);
  pa_operation* linkQuery_ GUARDED_BY(loopMutex_) = nullptr;
  bool confirmingUnlinked_ GUARDED_BY(loopMutex_) = false;  // what the query in flight is for
  pa_time_event* unlinkedTimer_ GUARDED_BY(loopMutex_) = nullptr;
  pa_operation* moveQuery_ GUARDED_BY(loopMutex_) = nullptr;  // what the stream was moved to

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
  // Without a source found, the server's own default is the one to try.
  const PulseServer::SourceAnswer answer = server_->waitSource();
  const ChosenSource* source = answer && *answer ? &**answer : nullptr;
  pa_threaded_mainloop* loop = server_->loop();
  if (!server_->waitSettled().ok() || !loop) return server_->lastError();
  if (format.channelCount > PA_CHANNELS_MAX) return pulseError(PA_ERR_NOTSUPPORTED);
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(format.sampleRate),
                            static_cast<uint8_t>(format.channelCount)};
  if (!pa_sample_spec_valid(&spec)) return pulseError(PA_ERR_INVALID);
  // The source's own map: the server connects channels by position, and a stream with the default
  // (front left, front right, ...) would get nothing from a source whose channels are all AUX
  // positions (a multi-input interface, a remapped microphone): pure silence.
  pa_channel_map map;
  if (source && source->channelMap.channels == spec.channels &&
      pa_channel_map_valid(&source->channelMap)) {
    map = source->channelMap;
  } else {
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  }

  {
    LoopLock lock(loopMutex_);
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
    if (pa_stream_connect_record(stream_, source ? source->name.c_str() : nullptr, &attributes,
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
  if (server_->loop()) {
    LoopLock lock(loopMutex_);
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
  self->loopMutex_.heldByCallback();
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
  self->loopMutex_.heldByCallback();
  // Only the latest move counts.
  self->cancelMoveQuery();
  self->moveQuery_ = pa_context_get_source_info_by_index(self->server_->context(),
                                                         pa_stream_get_device_index(stream),
                                                         &PulseCapture::onMovedToSource, self);
}

void PulseCapture::onMovedToSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  self->loopMutex_.heldByCallback();
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
  self->loopMutex_.heldByCallback();
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
  self->loopMutex_.heldByCallback();
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
  self->loopMutex_.heldByCallback();
  api->time_free(event);
  self->unlinkedTimer_ = nullptr;
  if (self->stream_) self->checkLink(true);
}

void PulseCapture::onRead(pa_stream* stream, size_t, void* data) {
  auto* self = static_cast<PulseCapture*>(data);
  self->loopMutex_.heldByCallback();
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

std::unique_ptr<CaptureSource> makePulseCaptureSource(std::shared_ptr<PulseServer> server) {
  return std::make_unique<PulseCapture>(std::move(server));
}

}  // namespace mic
