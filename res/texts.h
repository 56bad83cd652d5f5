#pragma once
// The user-visible texts in Japanese and English (the table is texts.def), the language the program
// speaks, and the rules that choose it from the user's environment.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace res {

enum class Language { kJapanese, kEnglish };

enum class TextId : std::uint16_t {
#define MAVRIN_TEXT(id, japanese, english) id,
#include "res/texts.def"
#undef MAVRIN_TEXT
};

struct TextRow {
  const char* japanese;
  const char* english;
};

inline constexpr TextRow kTextTable[] = {
#define MAVRIN_TEXT(id, japanese, english) {japanese, english},
#include "res/texts.def"
#undef MAVRIN_TEXT
};
inline constexpr std::size_t kTextCount = sizeof kTextTable / sizeof kTextTable[0];

constexpr const char* TextIn(Language language, TextId id) {
  const TextRow& row = kTextTable[static_cast<std::size_t>(id)];
  return language == Language::kJapanese ? row.japanese : row.english;
}

// The language every text is shown in from now on. English until the program chooses.
void SetLanguage(Language language);
Language CurrentLanguage();
inline const char* Text(TextId id) { return TextIn(CurrentLanguage(), id); }

// The text with its placeholders ("%s", "%d") replaced, in order, by args; "%%" gives "%". A
// placeholder without an argument is left out. What the arguments hold is never read as a format.
std::string Fill(std::string_view text, std::initializer_list<std::string_view> args);
inline std::string Fill(TextId id, std::initializer_list<std::string_view> args) { return Fill(Text(id), args); }

// "ja..." or "en..." (any case) as a language; false for anything else, including empty.
bool ParseLanguageName(std::string_view name, Language& language);

// The Linux edition's choice. MAVRIN_LANG ("ja" or "en") wins when it names one of our languages.
// Otherwise the usual order: a set LANGUAGE list decides by its first entry that is Japanese or
// English ("C" and "POSIX" count as English; entries of other languages are passed over, and a
// list of only those gives English); without it the first set of LC_ALL, LC_MESSAGES and LANG. A
// Japanese locale gives Japanese, every other one English. Unset variables are passed as nullptr.
Language LanguageFromEnvironment(const char* mavrinLang, const char* language, const char* lcAll,
                                 const char* lcMessages, const char* lang);

// The Windows edition's choice: MAVRIN_LANG as above, otherwise Japanese only when the user's UI
// language is Japanese (primary language 0x11 of the LANGID) and the ANSI code page is 932, so that
// the Japanese texts' 8-bit bytes are never shown in another code page.
Language LanguageForWindows(const char* mavrinLang, std::uint16_t uiLanguage, unsigned ansiCodePage);

}  // namespace res
