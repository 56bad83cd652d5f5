// The suites state the program's texts in Japanese, the language it was first written in. The
// language is pinned here, before any test runs, so that no suite depends on the locale of the
// machine it runs on; a test of the English texts switches with ScopedLanguage.
#include <gtest/gtest.h>

#include "res/texts.h"

namespace {

class JapaneseTexts : public ::testing::Environment {
 public:
  void SetUp() override { res::SetLanguage(res::Language::kJapanese); }
};

[[maybe_unused]] ::testing::Environment* const kPinned = ::testing::AddGlobalTestEnvironment(new JapaneseTexts);

}  // namespace
