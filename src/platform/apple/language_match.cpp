#include "platform/apple/language_match.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace mic {

namespace {

// A locale identifier taken apart: language, script, region and any variants, lower-cased (script
// and region too, for comparing). Keywords ("@rg=dezzzz", "@euro") and a codeset (".UTF-8") are
// dropped.
struct LocaleParts {
  std::string language;
  std::string script;
  std::string region;
  std::vector<std::string> variants;
};

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool allOf(std::string_view s, bool (*test)(char)) {
  return !s.empty() && std::ranges::all_of(s, test);
}

LocaleParts partsOf(std::string_view identifier) {
  identifier = identifier.substr(0, identifier.find_first_of("@."));
  std::vector<std::string> fields;
  std::string field;
  for (const char c : identifier) {
    if (c == '-' || c == '_') {
      fields.push_back(std::exchange(field, {}));
    } else {
      field += lower(c);
    }
  }
  fields.push_back(field);
  LocaleParts parts;
  size_t i = 0;
  if (fields[i].size() < 2 || fields[i].size() > 8 || !allOf(fields[i], isAlpha)) return parts;
  parts.language = fields[i++];
  if (i < fields.size() && fields[i].size() == 4 && allOf(fields[i], isAlpha))
    parts.script = fields[i++];
  if (i < fields.size() && ((fields[i].size() == 2 && allOf(fields[i], isAlpha)) ||
                            (fields[i].size() == 3 && allOf(fields[i], isDigit))))
    parts.region = fields[i++];
  for (; i < fields.size(); ++i) {
    if (!fields[i].empty()) parts.variants.push_back(fields[i]);
  }
  return parts;
}

struct LikelyRegion {
  std::string_view language;  // with a script where the script decides
  std::string_view region;
};

// From Unicode CLDR's likely subtags, for the languages the system's recognizer offers in more
// than one region; a language offered in one region needs no rule.
constexpr std::array kLikelyRegions = {
    LikelyRegion{"ar", "eg"},      LikelyRegion{"de", "de"}, LikelyRegion{"en", "us"},
    LikelyRegion{"es", "es"},      LikelyRegion{"fr", "fr"}, LikelyRegion{"hi", "in"},
    LikelyRegion{"it", "it"},      LikelyRegion{"ms", "my"}, LikelyRegion{"nl", "nl"},
    LikelyRegion{"pt", "br"},      LikelyRegion{"sv", "se"}, LikelyRegion{"zh", "cn"},
    LikelyRegion{"zh-hant", "tw"},
};

std::string_view likelyRegion(const LocaleParts& parts) {
  const std::string withScript = parts.language + "-" + parts.script;
  for (const LikelyRegion& likely : kLikelyRegions) {
    if (!parts.script.empty() && likely.language == withScript) return likely.region;
  }
  for (const LikelyRegion& likely : kLikelyRegions) {
    if (likely.language == parts.language) return likely.region;
  }
  return {};
}

}  // namespace

std::string languageOf(std::string_view identifier) {
  std::string language;
  for (const char c : identifier) {
    if (c >= 'a' && c <= 'z') {
      language += c;
    } else if (c >= 'A' && c <= 'Z') {
      language += static_cast<char>(c - 'A' + 'a');
    } else {
      break;  // '_', '-', '.', '@' or anything else ends the subtag
    }
  }
  return language;
}

bool sameLanguage(std::string_view requested, std::string_view offered) {
  const std::string language = languageOf(requested);
  return !language.empty() && language == languageOf(offered);
}

bool servesLanguage(std::string_view requested, std::string_view recognizerLocale,
                    std::span<const std::string> supportedLocales) {
  return sameLanguage(requested, recognizerLocale) &&
         std::ranges::any_of(supportedLocales, [&](const std::string& offered) {
           return sameLanguage(requested, offered);
         });
}

std::optional<std::string> bestSupportedLocale(std::string_view requested,
                                               std::span<const std::string> supported) {
  const LocaleParts wanted = partsOf(requested);
  if (wanted.language.empty()) return std::nullopt;
  struct Candidate {
    const std::string* identifier;
    LocaleParts parts;
  };
  std::vector<Candidate> candidates;
  for (const std::string& offered : supported) {
    LocaleParts parts = partsOf(offered);
    if (parts.language == wanted.language) candidates.push_back({&offered, std::move(parts)});
  }
  if (candidates.empty()) return std::nullopt;
  // Sorted, so that every choice below takes the first of equals whatever the system's order.
  std::ranges::sort(candidates, {}, [](const Candidate& c) { return *c.identifier; });

  const auto first = [&](auto&& matches) -> std::optional<std::string> {
    const auto found = std::ranges::find_if(candidates, matches);
    if (found == candidates.end()) return std::nullopt;
    return *found->identifier;
  };
  // A plain locale of the region: its script, if it names one, agrees, and it has no variants.
  const auto plainIn = [&](std::string_view region) {
    return [&wanted, region](const Candidate& c) {
      return c.parts.region == region && c.parts.variants.empty() &&
             (c.parts.script.empty() || c.parts.script == wanted.script);
    };
  };

  if (auto exact = first([&](const Candidate& c) {
        return c.parts.script == wanted.script && c.parts.region == wanted.region &&
               c.parts.variants == wanted.variants;
      }))
    return exact;
  if (!wanted.region.empty()) {
    if (auto sameRegion = first(plainIn(wanted.region))) return sameRegion;
  }
  if (const std::string_view region = likelyRegion(wanted); !region.empty()) {
    if (auto usual = first(plainIn(region))) return usual;
  }
  if (auto plain = first([&](const Candidate& c) {
        return c.parts.variants.empty() &&
               (c.parts.script.empty() || c.parts.script == wanted.script);
      }))
    return plain;
  return *candidates.front().identifier;
}

}  // namespace mic
