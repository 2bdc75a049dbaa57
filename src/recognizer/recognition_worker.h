#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/speech_recognition.h"
#include "recognizer/audio_queue.h"
#include "recognizer/model_load.h"

namespace mic {

// What a task's worker and the task handle share; the worker owns the decoder.
struct RecognitionTaskState {
  std::shared_ptr<AudioQueue> audio;
  std::shared_ptr<ModelLoad> model;
  RecognitionResultHandler handler;
  bool reportPartials = true;
  std::atomic<bool> cancelled{false};

  // Reports stop once the task is cancelled.
  void succeed(const std::string& text, bool isFinal) {
    if (!cancelled) handler(RecognitionResult{text, isFinal}, std::nullopt);
  }
  void fail(const std::string& description) {
    if (!cancelled) handler(std::nullopt, RecognitionError{description});
  }
};

// The worker of one task, on its own recognizer thread: takes the decoder from the model load,
// feeds it the queued audio, reports each change of the transcription as a partial and, once the
// queue is closed and drained, the final. Returns without a report once cancelled.
void runRecognitionWorker(const std::shared_ptr<RecognitionTaskState>& state);

}  // namespace mic
