#include "res/texts.h"

#include <atomic>

#include "base/text.h"

namespace res {
namespace {

std::atomic<Language> g_language{Language::kEnglish};

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

// "ja", "ja_JP.UTF-8", "ja-JP", "JA": the language part of a locale name, compared without case.
bool HasLanguage(std::string_view name, std::string_view code) {
  if (name.size() < code.size()) return false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (LowerAscii(name[i]) != code[i]) return false;
  }
  if (name.size() == code.size()) return true;
  const char next = name[code.size()];
  return next == '_' || next == '-' || next == '.' || next == '@';
}

}  // namespace

void SetLanguage(Language language) { g_language.store(language); }
Language CurrentLanguage() { return g_language.load(); }

std::string Fill(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(text.size() + 64);
  const std::string_view* next = args.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    const char kind = text[i + 1];
    if (kind == '%') {
      out += '%';
      ++i;
    } else if (kind == 's' || kind == 'd') {
      if (next != args.end()) out += *next++;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

bool ParseLanguageName(std::string_view name, Language& language) {
  if (HasLanguage(name, "ja")) {
    language = Language::kJapanese;
    return true;
  }
  if (HasLanguage(name, "en")) {
    language = Language::kEnglish;
    return true;
  }
  return false;
}

Language LanguageFromEnvironment(const char* mavrinLang, const char* language, const char* lcAll,
                                 const char* lcMessages, const char* lang) {
  Language chosen = Language::kEnglish;
  if (Set(mavrinLang) && ParseLanguageName(mavrinLang, chosen)) return chosen;
  if (Set(language)) {
    std::string_view list(language);
    while (!list.empty()) {
      const std::size_t colon = list.find(':');
      const std::string_view entry = list.substr(0, colon);
      if (entry == "C" || entry == "POSIX") return Language::kEnglish;
      if (ParseLanguageName(entry, chosen)) return chosen;
      if (colon == std::string_view::npos) break;
      list.remove_prefix(colon + 1);
    }
    return Language::kEnglish;
  }
  for (const char* locale : {lcAll, lcMessages, lang}) {
    if (Set(locale)) return HasLanguage(locale, "ja") ? Language::kJapanese : Language::kEnglish;
  }
  return Language::kEnglish;
}

Language LanguageForWindows(const char* mavrinLang, std::uint16_t uiLanguage, unsigned ansiCodePage) {
  Language chosen = Language::kEnglish;
  if (Set(mavrinLang) && ParseLanguageName(mavrinLang, chosen)) return chosen;
  constexpr std::uint16_t kPrimaryMask = 0x3FF;
  constexpr std::uint16_t kJapanese = 0x11;
  return (uiLanguage & kPrimaryMask) == kJapanese && ansiCodePage == 932 ? Language::kJapanese : Language::kEnglish;
}

}  // namespace res
