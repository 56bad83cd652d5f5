#pragma once
// The shell's tests: the whole program, with a settings file that tells when it was committed.
#include <functional>
#include <memory>
#include <string>

#include "tests/support/program_fixture.h"

// Watches the settings file's commits: what the window system looked like when the list was saved.
class ObservedProfile : public ProfileFile {
 public:
  explicit ObservedProfile(ProfileFile& inner) : inner_(inner) {}
  std::size_t Read(const char* s, const char* k, const char* d, char* b, std::size_t n) override {
    return inner_.Read(s, k, d, b, n);
  }
  bool Write(const char* s, const char* k, const char* v) override { return inner_.Write(s, k, v); }
  bool ReadKeys(const char* s, std::vector<std::string>& keys) override { return inner_.ReadKeys(s, keys); }
  bool BeginBatch() override { return inner_.BeginBatch(); }
  bool CommitBatch() override {
    ++commits;
    if (onCommit) onCommit();
    return inner_.CommitBatch();
  }
  void DiscardBatch() override { inner_.DiscardBatch(); }
  const std::string& Path() const override { return inner_.Path(); }
  std::string LastError() const override { return inner_.LastError(); }
  std::string Fingerprint() const override { return inner_.Fingerprint(); }

  int commits = 0;
  std::function<void()> onCommit;

 private:
  ProfileFile& inner_;
};

class AppTest : public ProgramFixture {
 protected:
  ProfileFile& SettingsFile() override {
    profile = std::make_unique<ObservedProfile>(*ini);
    return *profile;
  }

  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
  }
  CDummyDlg* MainDialog() { return static_cast<CDummyDlg*>(framework::MainWindow()); }

  std::unique_ptr<ObservedProfile> profile;
};
