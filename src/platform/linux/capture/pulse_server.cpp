#include "platform/linux/capture/pulse_server.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/linux/capture/pulse_memory.h"

namespace mic {
namespace {

// A server that accepts the socket but never answers must not hang the program.
constexpr pa_usec_t kConnectTimeout = 5 * PA_USEC_PER_SEC;
constexpr auto kSettleWait = std::chrono::seconds(6);  // the timeout above, plus slack
constexpr auto kQueryWait = std::chrono::seconds(5);
// libpulse says its thread started even when pthread_create failed; ours must be seen running.
constexpr auto kLoopStartWait = std::chrono::seconds(2);

}  // namespace

PulseServer::Reach PulseServer::classify(int error) {
  switch (error) {
    case PA_ERR_ACCESS:
      return Reach::accessDenied;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
      return Reach::noServer;
    default:
      return Reach::failed;
  }
}

PulseServer::PulseServer() {
  if (const char* named = std::getenv("PULSE_SOURCE")) namedSource_ = named;
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) {
    settle(Reach::failed, PA_ERR_INTERNAL);
    return;
  }
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "mic-transcriber");
  pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
  {
    const SmallPulseMemory smallPool;  // libpulse reads its configuration here
    context_ = pa_context_new_with_proplist(api(), "mic-transcriber", properties);
  }
  pa_proplist_free(properties);
  if (!context_) {
    settle(Reach::failed, PA_ERR_INTERNAL);
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
    settle(Reach::failed, PA_ERR_INTERNAL);
    return;
  }
  loopRunning_ = true;
  loopMutex_.attach(loop_);
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
      LoopLock lock(loopMutex_);
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

Status PulseServer::outcome() const {
  if (!settled_) return Status::failure(pa_strerror(PA_ERR_TIMEOUT));
  if (reach_ == Reach::connected) return {};
  return Status::failure(pa_strerror(error_));
}

void PulseServer::whenSettled(std::function<void(const Status&)> handler) {
  if (!loopRunning_) {
    // Only when libpulse could not start its thread; the connection has failed already, and
    // the answer comes at once rather than on a thread the machine may not have.
    handler(lastError());
    return;
  }
  LoopLock lock(loopMutex_);
  auto* answer = new Answer{this, std::move(handler)};
  pa_defer_event* event = api()->defer_new(api(), &PulseServer::onAnswer, answer);
  api()->defer_set_destroy(event, &PulseServer::destroyAnswer);
}

void PulseServer::onAnswer(pa_mainloop_api* api, pa_defer_event* event, void* data) {
  auto* answer = static_cast<Answer*>(data);
  PulseServer* self = answer->server;
  self->loopMutex_.heldByCallback();
  auto handler = std::move(answer->handler);
  api->defer_free(event);  // deletes `answer`
  std::optional<Status> settled;
  {
    MutexLock lock(self->mutex_);
    if (self->settled_) settled = self->outcome();
  }
  if (settled) {
    handler(*settled);
  } else {
    self->settledHandlers_.push_back(std::move(handler));
  }
}

void PulseServer::destroyAnswer(pa_mainloop_api*, pa_defer_event*, void* answer) {
  delete static_cast<Answer*>(answer);
}

Status PulseServer::waitSettled() {
  MutexLock lock(mutex_);
  changed_.wait_for(lock, kSettleWait, [this]() REQUIRES(mutex_) { return settled_; });
  return outcome();
}

bool PulseServer::noServer() const {
  MutexLock lock(mutex_);
  return settled_ && reach_ == Reach::noServer;
}

bool PulseServer::accessDenied() const {
  MutexLock lock(mutex_);
  return settled_ && reach_ == Reach::accessDenied;
}

PulseServer::SourceAnswer PulseServer::waitSource() {
  // A failed connection has its answer already: a refusal leaves no microphone, anything else
  // is the failure.
  const Status connected = waitSettled();
  MutexLock lock(mutex_);
  if (!settled_) return connected;
  changed_.wait_for(lock, kQueryWait, [this]() REQUIRES(mutex_) { return queried_; });
  if (!queried_) return Status::failure(pa_strerror(PA_ERR_TIMEOUT));
  return source_;
}

Status PulseServer::lastError() const {
  MutexLock lock(mutex_);
  return Status::failure(pa_strerror(error_));
}

void PulseServer::settle(Reach reach, int error) {
  {
    MutexLock lock(mutex_);
    if (settled_) return;
    settled_ = true;
    reach_ = reach;
    error_ = error;
    if (reach != Reach::connected) {
      queried_ = true;
      // A server that refuses us leaves no microphone we may record; any other failure to reach
      // it is a failure, with its reason.
      if (reach == Reach::accessDenied) {
        source_ = std::optional<ChosenSource>();
      } else {
        source_ = Status::failure(pa_strerror(error));
      }
    }
  }
  changed_.notify_all();
  if (connectTimer_) {
    api()->time_free(connectTimer_);
    connectTimer_ = nullptr;
  }
  auto handlers = std::move(settledHandlers_);
  settledHandlers_.clear();
  const Status settled = reach == Reach::connected ? Status() : Status::failure(pa_strerror(error));
  for (auto& handler : handlers) handler(settled);
}

void PulseServer::onContextState(pa_context* context, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  self->loopMutex_.heldByCallback();
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      self->settle(Reach::connected, PA_OK);
      self->querySource();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      const int error = pa_context_errno(context);
      self->settle(classify(error), error);
      {
        // Also the end of a connection that worked: the server went away.
        MutexLock lock(self->mutex_);
        self->error_ = error ? error : PA_ERR_CONNECTIONTERMINATED;
        if (!self->queried_) self->source_ = Status::failure(pa_strerror(self->error_));
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
  self->loopMutex_.heldByCallback();
  api->time_free(event);
  self->connectTimer_ = nullptr;
  self->settle(Reach::failed, PA_ERR_TIMEOUT);
  pa_context_disconnect(self->context_);
}

void PulseServer::querySource() {
  if (!namedSource_.empty()) {
    askSource(namedSource_.c_str());
  } else if (pa_operation* op =
                 pa_context_get_server_info(context_, &PulseServer::onServerInfo, this)) {
    pa_operation_unref(op);
  } else {
    queryFailed();
  }
}

void PulseServer::askSource(const char* name) {
  if (pa_operation* op =
          pa_context_get_source_info_by_name(context_, name, &PulseServer::onSourceInfo, this)) {
    pa_operation_unref(op);
  } else {
    queryFailed();
  }
}

// The question could not be asked, or the server could not answer it: not the same as a machine
// without a microphone.
void PulseServer::queryFailed() {
  const int error = pa_context_errno(context_);
  found_ = Status::failure(pa_strerror(error ? error : PA_ERR_UNKNOWN));
  finishQuery();
}

void PulseServer::onServerInfo(pa_context*, const pa_server_info* info, void* data) {
  auto* self = static_cast<PulseServer*>(data);
  self->loopMutex_.heldByCallback();
  if (!info) {
    self->queryFailed();
  } else if (!info->default_source_name || !*info->default_source_name) {
    self->finishQuery();  // a server without any source
  } else {
    self->askSource(info->default_source_name);
  }
}

void PulseServer::onSourceInfo(pa_context* context, const pa_source_info* info, int eol,
                               void* data) {
  auto* self = static_cast<PulseServer*>(data);
  self->loopMutex_.heldByCallback();
  if (eol < 0) {
    // No source of that name (a PULSE_SOURCE the server does not know, a default just removed) is
    // no microphone; anything else is a failure.
    if (pa_context_errno(context) == PA_ERR_NOENTITY) {
      self->finishQuery();
    } else {
      self->queryFailed();
    }
    return;
  }
  if (eol == 0 && info) {
    // A monitor is what an output plays, named the default when a machine has no microphone:
    // listening to it would transcribe the computer's own sound. A source made from a monitor
    // (a remap or loopback source) is not one itself, and is a microphone like any other. One
    // named in PULSE_SOURCE is the person's choice, whatever it is.
    if (info->monitor_of_sink == PA_INVALID_INDEX || !self->namedSource_.empty()) {
      self->found_ = std::optional<ChosenSource>(
          ChosenSource{info->name ? info->name : "",
                       {static_cast<double>(info->sample_spec.rate), info->sample_spec.channels},
                       info->channel_map});
    }
    return;
  }
  self->finishQuery();
}

void PulseServer::finishQuery() {
  {
    MutexLock lock(mutex_);
    if (queried_) return;
    queried_ = true;
    source_ = found_;
  }
  changed_.notify_all();
}

}  // namespace mic
