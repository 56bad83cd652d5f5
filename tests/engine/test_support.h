#pragma once
// Shared pieces of the engine tests: a message box double, captured output, a scratch directory.
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/message_box.h"

namespace enginetest {

struct ShownBox {
  framework::OwnerWindow owner;
  std::string text;
  bool hasCaption;
  unsigned type;
};

class RecordingMessageBoxes final : public framework::IMessageBoxes {
 public:
  int ShowMessageBox(framework::OwnerWindow owner, const std::string& text, const char* caption,
                     unsigned type) override {
    shown.push_back(ShownBox{owner, text, caption != nullptr, type});
    return IDOK;
  }
  std::vector<ShownBox> shown;
};

// A stream the code under test writes to and the test reads back.
class CapturedStream {
 public:
  CapturedStream() : file_(std::tmpfile()) {}
  ~CapturedStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    long end = std::ftell(file_);
    std::string text(static_cast<std::size_t>(end), '\0');
    std::rewind(file_);
    std::size_t n = std::fread(text.data(), 1, text.size(), file_);
    text.resize(n);
    std::fseek(file_, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* file_;
};

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mavrin-engine-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace enginetest
