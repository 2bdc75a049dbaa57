#include "transcript/transcript_join.h"

namespace mic {
namespace {

std::string joined(const std::string& before, const std::string& after) {
  if (before.empty()) return after;
  if (after.empty()) return before;
  return before + " " + after;
}

}  // namespace

bool TranscriptJoin::startsNewStretch(const StretchResult& result) const {
  if (current_.empty()) return false;
  if (result.span && currentSpan_) return result.span->start >= currentSpan_->end;
  // Without timing, a recognizer that kept its text after closing a stretch is still growing it.
  return currentClosed_ && !result.text.starts_with(current_);
}

const std::string& TranscriptJoin::update(const StretchResult& result) {
  // A reading without words and without a place in the audio says nothing about what was heard:
  // a recognizer that has just started over reports one before the new words come.
  if (result.text.empty() && !result.span) return whole_;
  if (startsNewStretch(result)) kept_ = joined(kept_, current_);
  current_ = result.text;
  currentSpan_ = result.span;
  currentClosed_ = result.closesStretch;
  whole_ = joined(kept_, current_);
  return whole_;
}

void TranscriptJoin::clear() { *this = TranscriptJoin(); }

}  // namespace mic
