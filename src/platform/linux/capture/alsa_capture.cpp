#include "platform/linux/capture/alsa_capture.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/detached_thread.h"
#include "platform/mutex.h"

namespace mic {
namespace {

constexpr snd_pcm_uframes_t kPeriodFrames = 256;  // about 5 to 16 ms at usual rates
constexpr unsigned kPeriods = 8;

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&ignoreAlsaMessage); });
}

struct Device {
  std::string probeName;    // opened to learn the hardware's own rate and channels
  std::string captureName;  // opened to record
};

// The first card with a capture device, or nothing on a machine without one.
std::optional<Device> findCaptureDevice() {
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    const std::string ctlName = "hw:" + std::to_string(card);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) continue;
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_malloc(&info);
    int device = -1;
    std::optional<Device> found;
    while (!found && snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
      snd_pcm_info_set_device(info, static_cast<unsigned>(device));
      snd_pcm_info_set_subdevice(info, 0);
      snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, info) == 0) {
        const std::string suffix = std::to_string(card) + "," + std::to_string(device);
        found = Device{"hw:" + suffix, "plughw:" + suffix};
      }
    }
    snd_pcm_info_free(info);
    snd_ctl_close(ctl);
    if (found) return found;
  }
  return std::nullopt;
}

// The rate and channel count the device records natively, preferring common microphone rates
// and mono.
AudioFormat nativeFormat(const std::string& name) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) return {};
  AudioFormat format;
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_malloc(&params);
  if (snd_pcm_hw_params_any(pcm, params) >= 0) {
    unsigned rate = 0;
    for (unsigned candidate : {48000u, 44100u, 16000u}) {
      if (snd_pcm_hw_params_test_rate(pcm, params, candidate, 0) == 0) {
        rate = candidate;
        break;
      }
    }
    int dir = 0;
    if (rate == 0 && snd_pcm_hw_params_get_rate_max(params, &rate, &dir) < 0) rate = 0;
    unsigned channels = 0;
    if (snd_pcm_hw_params_test_channels(pcm, params, 1) == 0) {
      channels = 1;
    } else if (snd_pcm_hw_params_get_channels_min(params, &channels) < 0) {
      channels = 0;
    }
    if (rate > 0 && channels > 0) format = {static_cast<double>(rate), channels};
  }
  snd_pcm_hw_params_free(params);
  snd_pcm_close(pcm);
  return format;
}

Status alsaError(int error) { return Status::failure(snd_strerror(error)); }

class AlsaCapture final : public CaptureSource {
 public:
  explicit AlsaCapture(std::string device) : requestedDevice_(std::move(device)) { silenceAlsa(); }
  ~AlsaCapture() override { stop(); }

  Result<AudioFormat> format() override;
  Status start(AudioFormat format, FrameCollector& collector,
               std::function<void()> onEnded) override;
  void stop() override;
  bool isRunning() const override { return running_.load(); }

 private:
  Status configure(AudioFormat format);
  // Returns true when stop() asked it to end, false when the device went away.
  bool capture(FrameCollector& collector, uint32_t channels);
  void closePcm();

  const std::string requestedDevice_;
  bool probed_ = false;
  std::optional<Device> device_;
  AudioFormat format_;

  snd_pcm_t* pcm_ = nullptr;
  int wakeFd_ = -1;  // written by stop() to end the capture thread's poll at once
  std::vector<float> scratch_;
  std::atomic<bool> running_ = false;
  // The capture thread is detached (started as every thread of ours is); stop() waits for it
  // here instead of joining it.
  Mutex mutex_;
  CondVar threadEnded_;
  bool threadRunning_ GUARDED_BY(mutex_) = false;
};

Result<AudioFormat> AlsaCapture::format() {
  if (!probed_) {
    probed_ = true;
    if (requestedDevice_.empty()) {
      device_ = findCaptureDevice();
    } else {
      device_ = Device{requestedDevice_, requestedDevice_};
    }
    if (device_) format_ = nativeFormat(device_->probeName);
  }
  // No card, or none whose format can be read: no microphone (a zero format).
  if (!device_) return AudioFormat{};
  return format_;
}

Status AlsaCapture::start(AudioFormat format, FrameCollector& collector,
                          std::function<void()> onEnded) {
  if (running_) return {};
  stop();
  // The first call finds the card.
  (void)this->format();
  if (!device_) return alsaError(-ENODEV);
  if (!(format.sampleRate > 0) || format.channelCount == 0) return alsaError(-EINVAL);
  if (Status error = configure(format); !error.ok()) {
    closePcm();
    return error;
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    const int error = errno;
    closePcm();
    return alsaError(-error);
  }
  if (const int error = snd_pcm_start(pcm_); error < 0) {
    closePcm();
    return alsaError(error);
  }
  scratch_.assign(size_t{kPeriodFrames} * format.channelCount, 0.0f);
  running_ = true;
  {
    MutexLock lock(mutex_);
    threadRunning_ = true;
  }
  Status started = startDetachedThread(
      [this, &collector, channels = format.channelCount, onEnded = std::move(onEnded)]() mutable {
        bool asked = false;
        try {
          asked = capture(collector, channels);
        } catch (const std::exception&) {
          // out of memory on the way to the tap: the capture ends
        }
        running_ = false;
        if (!asked && onEnded) onEnded();
        onEnded = nullptr;  // nothing of the caller's outlives stop()
        // The last touch of this object: once stop() sees it, the capture may be destroyed.
        MutexLock lock(mutex_);
        threadRunning_ = false;
        threadEnded_.notify_all();
      });
  if (!started.ok()) {
    {
      MutexLock lock(mutex_);
      threadRunning_ = false;
    }
    running_ = false;
    closePcm();
    return started;
  }
  return {};
}

Status AlsaCapture::configure(AudioFormat format) {
  int error =
      snd_pcm_open(&pcm_, device_->captureName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (error < 0) {
    pcm_ = nullptr;
    return alsaError(error);
  }
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_malloc(&params);
  snd_pcm_uframes_t period = kPeriodFrames;
  snd_pcm_uframes_t bufferFrames = kPeriodFrames * kPeriods;
  int dir = 0;
  if ((error = snd_pcm_hw_params_any(pcm_, params)) >= 0 &&
      (error = snd_pcm_hw_params_set_access(pcm_, params, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
      (error = snd_pcm_hw_params_set_format(pcm_, params, SND_PCM_FORMAT_FLOAT)) >= 0 &&
      (error = snd_pcm_hw_params_set_channels(pcm_, params, format.channelCount)) >= 0 &&
      (error = snd_pcm_hw_params_set_rate(pcm_, params, static_cast<unsigned>(format.sampleRate),
                                          0)) >= 0 &&
      (error = snd_pcm_hw_params_set_period_size_near(pcm_, params, &period, &dir)) >= 0 &&
      (error = snd_pcm_hw_params_set_buffer_size_near(pcm_, params, &bufferFrames)) >= 0) {
    error = snd_pcm_hw_params(pcm_, params);
  }
  snd_pcm_hw_params_free(params);
  if (error < 0) return alsaError(error);
  return {};
}

bool AlsaCapture::capture(FrameCollector& collector, uint32_t channels) {
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  std::vector<pollfd> fds(static_cast<size_t>(count > 0 ? count : 0) + 1);
  fds[0] = {wakeFd_, POLLIN, 0};
  snd_pcm_poll_descriptors(pcm_, fds.data() + 1, static_cast<unsigned>(fds.size() - 1));
  const size_t frameBytes = size_t{channels} * sizeof(float);
  const auto frames = static_cast<snd_pcm_uframes_t>(scratch_.size() / channels);

  while (true) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents) return true;  // stop() asked us to end
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_, fds.data() + 1, static_cast<unsigned>(fds.size() - 1),
                                     &revents);
    if (revents & (POLLERR | POLLNVAL | POLLHUP)) {
      // An overrun shows as POLLERR and can be recovered; a vanished device cannot.
      if (snd_pcm_recover(pcm_, -EPIPE, 1) < 0 || snd_pcm_start(pcm_) < 0) return false;
      continue;
    }
    if (!(revents & POLLIN)) continue;
    // Read only what is there now, then poll again, so a stop request is seen between reads
    // even from a device that is always ready.
    snd_pcm_sframes_t available = snd_pcm_avail_update(pcm_);
    if (available < 0) available = static_cast<snd_pcm_sframes_t>(frames);
    while (available > 0) {
      const auto want = std::min(static_cast<snd_pcm_uframes_t>(available), frames);
      const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, scratch_.data(), want);
      if (got == -EAGAIN) break;
      if (got < 0) {
        // An overrun restarts; a vanished device ends the capture.
        if (snd_pcm_recover(pcm_, static_cast<int>(got), 1) < 0) return false;
        snd_pcm_start(pcm_);
        break;
      }
      collector.append({reinterpret_cast<const std::byte*>(scratch_.data()),
                        static_cast<size_t>(got) * frameBytes});
      available -= got;
      if (got == 0) break;
    }
  }
}

void AlsaCapture::stop() {
  {
    MutexLock lock(mutex_);
    if (threadRunning_) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
      threadEnded_.wait(lock, [this]() REQUIRES(mutex_) { return !threadRunning_; });
    }
  }
  closePcm();
  running_ = false;
}

void AlsaCapture::closePcm() {
  if (pcm_) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  if (wakeFd_ >= 0) {
    close(wakeFd_);
    wakeFd_ = -1;
  }
}

}  // namespace

std::unique_ptr<CaptureSource> makeAlsaCaptureSource(std::string device) {
  return std::make_unique<AlsaCapture>(std::move(device));
}

}  // namespace mic
