#pragma once
// Switches the program's texts to another language for one test and back when it ends.
#include "res/texts.h"

class ScopedLanguage {
 public:
  explicit ScopedLanguage(res::Language language) : saved_(res::CurrentLanguage()) { res::SetLanguage(language); }
  ~ScopedLanguage() { res::SetLanguage(saved_); }
  ScopedLanguage(const ScopedLanguage&) = delete;
  ScopedLanguage& operator=(const ScopedLanguage&) = delete;

 private:
  res::Language saved_;
};
