#include "display_text/display_text.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>

#include "display_text/english_display_text.h"
#include "platform/linux/bounded_file.h"

namespace mic {
namespace {

// Words pass as they are, for a language with no formatter of its own.
class PlainDisplayText final : public DisplayText {
 public:
  std::string format(std::string_view words) const override { return std::string(words); }
};

// The list is about 1 MB; anything far larger is not the list we know and is left unread.
constexpr uint64_t kMaxWordListBytes = 4 << 20;

// The whole file, or nothing: a missing or unreadable list only costs the proper-noun capitals.
std::string readWordList(const char* path) {
  auto text = BoundedFile(path, kMaxWordListBytes, "not the word list").readAll();
  return text ? std::move(text).value() : std::string();
}

std::string languageOf(std::string_view locale) {
  std::string language;
  for (char c : locale) {
    if (c == '-' || c == '_' || c == '.' || c == '@') break;
    language += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return language;
}

}  // namespace

std::vector<std::string_view> splitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

std::unique_ptr<DisplayText> makeDisplayText(std::string_view language) {
  // One line a language: its formatter and the data it reads.
  if (languageOf(language) == "en") return makeEnglishDisplayText(readWordList(kEnglishWordList));
  return std::make_unique<PlainDisplayText>();
}

}  // namespace mic
