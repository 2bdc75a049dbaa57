#include "recognizer/pocketsphinx/pocketsphinx_engine.h"

#include <utility>

#include "recognizer/pocketsphinx/model_check.h"
#include "recognizer/pocketsphinx/model_locator.h"
#include "recognizer/pocketsphinx/pocketsphinx_decoder.h"
#include "recognizer/pocketsphinx/pocketsphinx_handle.h"
#include "recognizer/recognition_service.h"
#include "recognizer/speech_model.h"

namespace mic {
namespace {

// An installed pocketsphinx model. What the check hands on is the language model's vocabulary,
// which the load would otherwise walk again.
class PocketSphinxModel final : public SpeechModel {
 public:
  explicit PocketSphinxModel(ModelPaths paths) : paths_(std::move(paths)) {}

  Status check(std::string* reusable) const override { return checkModel(paths_, reusable); }

  Result<std::unique_ptr<Decoder>> load(std::string_view reusable) const override {
    auto handle = PocketSphinxHandle::load(paths_, reusable);
    if (!handle) return handle.status();
    return std::unique_ptr<Decoder>(
        std::make_unique<PocketSphinxDecoder>(std::move(handle).value(), WarmUpPolicy{}));
  }

  std::string language() const override { return paths_.name; }

 private:
  ModelPaths paths_;
};

}  // namespace

std::unique_ptr<SpeechRecognitionService> makePocketSphinxService(std::string modelRoot) {
  silencePocketSphinxLog();
  return makeRecognitionService([modelRoot = std::move(modelRoot)](const std::string& identifier)
                                    -> Result<std::shared_ptr<const SpeechModel>> {
    Status searchFailed;
    auto paths = locateModel(modelRoot, identifier, &searchFailed);
    if (!searchFailed.ok()) return searchFailed;
    if (!paths) return std::shared_ptr<const SpeechModel>();
    return std::shared_ptr<const SpeechModel>(
        std::make_shared<PocketSphinxModel>(std::move(paths).value()));
  });
}

}  // namespace mic
