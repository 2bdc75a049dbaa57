#include "recognizer/recognition_worker.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "recognizer/resampler.h"

namespace mic {
namespace {

// Resamples each captured chunk and feeds it to the decoder; a change of format (a new device)
// flushes the old resampler first so no audio is lost.
class Feeder {
 public:
  explicit Feeder(Decoder& decoder) : decoder_(decoder) {}

  Status feed(const AudioChunk& chunk) {
    if (!resampler_ || resampler_->inputRate() != chunk.format.sampleRate ||
        resampler_->channels() != chunk.format.channelCount) {
      if (Status flushed = flush(); !flushed.ok()) return flushed;
      auto made = Resampler::make(chunk.format.sampleRate, chunk.format.channelCount);
      if (!made) return made.status();
      resampler_ = std::move(made).value();
    }
    samples_.clear();
    if (Status processed = resampler_->process(chunk.samples, samples_); !processed.ok()) {
      return processed;
    }
    return decoder_.feed(samples_);
  }

  Status flush() {
    if (!resampler_) return {};
    samples_.clear();
    if (Status flushed = resampler_->flush(samples_); !flushed.ok()) return flushed;
    resampler_.reset();
    return decoder_.feed(samples_);
  }

 private:
  Decoder& decoder_;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> samples_;
};

}  // namespace

void runRecognitionWorker(const std::shared_ptr<RecognitionTaskState>& state) {
  auto loaded = state->model->take(state->cancelled);
  if (!loaded) return state->fail(loaded.status().message());  // silent once cancelled
  std::unique_ptr<Decoder> decoder = std::move(loaded->decoder);
  // Every report, partial and final, is display text.
  const DisplayText& displayText = *loaded->displayText;

  Feeder feeder(*decoder);
  if (auto status = decoder->start(); !status.ok()) return state->fail(status.message());
  std::string heard;     // the decoder's words last formatted
  std::string reported;  // their display text, last reported
  AudioChunk chunk;
  for (;;) {
    switch (state->audio->pop(chunk)) {
      case AudioQueue::Wait::interrupted:
        return;
      case AudioQueue::Wait::closed: {
        Status finished = feeder.flush();
        if (finished.ok()) finished = decoder->finish();
        if (!finished.ok()) return state->fail(finished.message());
        return state->succeed(displayText.format(decoder->hypothesis()), true);
      }
      case AudioQueue::Wait::chunk:
        if (Status fed = feeder.feed(chunk); !fed.ok()) return state->fail(fed.message());
        if (state->cancelled) return;
        // Formatted only when the words change; different words can still read the same.
        if (state->reportPartials && decoder->hypothesis() != heard) {
          heard = decoder->hypothesis();
          if (std::string text = displayText.format(heard); text != reported) {
            reported = std::move(text);
            state->succeed(reported, false);
          }
        }
        break;
    }
  }
}

}  // namespace mic
