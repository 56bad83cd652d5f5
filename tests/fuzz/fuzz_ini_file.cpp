// The profile-file reader and writer on arbitrary file contents and arbitrary writes: reads stay
// inside their buffers, writes the file cannot hold are refused, accepted writes read back exactly,
// and nothing that was not written to changes.
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/linux/ini_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Reader;

// A section and key as the tests compare them: ASCII letters without case.
std::pair<std::string, std::string> Name(const std::string& section, const std::string& key) {
  return {ToLowerAsciiCopy(section), ToLowerAsciiCopy(key)};
}

// Reads through a buffer of exactly bufferSize bytes, so that AddressSanitizer sees any write
// past it.
std::string ReadExact(platform::IniFile& file, const char* section, const char* key, std::size_t bufferSize) {
  std::unique_ptr<char[]> buffer(new char[bufferSize]);
  std::size_t n = file.Read(section, key, "<default>", buffer.get(), bufferSize);
  FUZZ_CHECK(n < bufferSize);
  FUZZ_CHECK(buffer[n] == '\0');
  FUZZ_CHECK(std::strlen(buffer.get()) == n);
  return std::string(buffer.get(), n);
}

std::string Section(Reader& in) {
  switch (in.Byte() % 4) {
    case 0: return "MAV_RIN";
    case 1: return "mav_rin";
    case 2: return "Other";
    default: return in.ShortText(12);
  }
}

std::string Key(Reader& in) {
  if (in.Byte() % 2 == 0) {
    char key[40];
    std::snprintf(key, sizeof key, "%03d_process_path", in.Byte() % 8);
    return key;
  }
  return in.ShortText(12);
}

struct WriteOp {
  std::string section;
  std::string key;
  std::string value;
  bool accepted = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The file's bytes, then (after a NUL) the choices; without a NUL the last bytes also serve as
  // choices, so plain text seeds exercise writes too.
  const std::uint8_t* split = static_cast<const std::uint8_t*>(std::memchr(data, '\0', size));
  const std::size_t contentSize = split != nullptr ? static_cast<std::size_t>(split - data) : size;
  const std::string content(reinterpret_cast<const char*>(data), contentSize);
  Reader in = split != nullptr ? Reader(split + 1, size - contentSize - 1)
                               : Reader(data + (size > 48 ? size - 48 : 0), size > 48 ? 48 : size);

  const std::string path = fuzz::ScratchDir() + "/f.ini";
  FUZZ_CHECK(fuzz::WriteBytes(path, content));
  const std::size_t maxSize = in.Byte() % 2 == 0 ? platform::IniFile::kDefaultMaxFileSize : 16 + in.Byte() * 4u;
  bool whole = content.size() <= maxSize;
  // A file that claims UTF-16 must be well-formed UTF-16 to be taken at all.
  if (whole && content.size() >= 2 &&
      (content.compare(0, 2, "\xFF\xFE") == 0 || content.compare(0, 2, "\xFE\xFF") == 0)) {
    platform::IniFile probe(path, maxSize);
    whole = probe.BeginBatch();
    probe.DiscardBatch();
  }
  const bool batch = in.Byte() % 2 == 0;

  std::vector<std::string> sections{"MAV_RIN", "Other"};
  std::vector<WriteOp> ops(in.Byte() % 8);
  // The calls take C strings: whatever follows a NUL never reaches them.
  auto cString = [](std::string text) { return text.substr(0, text.find('\0')); };
  for (WriteOp& op : ops) {
    op.section = cString(Section(in));
    op.key = cString(Key(in));
    op.value = cString(in.ShortText(40));
    sections.push_back(op.section);
  }

  // What the file holds before the writes, in every section the writes touch.
  std::map<std::pair<std::string, std::string>, std::string> before;
  {
    platform::IniFile file(path, maxSize);
    const std::size_t big = content.size() * 2 + 2;  // UTF-16 text may grow as UTF-8
    for (const std::string& section : sections) {
      std::vector<std::string> keys;
      if (!file.ReadKeys(section.c_str(), keys)) FUZZ_CHECK(keys.empty());
      for (const std::string& key : keys) {
        before.emplace(Name(section, key), ReadExact(file, section.c_str(), key.c_str(), big));
        for (std::size_t small : {1, 2, 7}) ReadExact(file, section.c_str(), key.c_str(), small);
      }
    }
    char none[1] = {'x'};
    FUZZ_CHECK(file.Read("MAV_RIN", "k", "d", none, 0) == 0 && none[0] == 'x');
    FUZZ_CHECK(file.Read("MAV_RIN", "k", "d", nullptr, 8) == 0);
  }

  platform::IniFile file(path, maxSize);
  bool committed = true;
  if (batch) FUZZ_CHECK(file.BeginBatch() == whole);
  for (WriteOp& op : ops) {
    op.accepted = file.Write(op.section.c_str(), op.key.c_str(), op.value.c_str());
    // What the file cannot hold is refused, never written in a way that breaks its lines.
    if (fuzz::HasLineBreak(op.value) || fuzz::HasLineBreak(op.section) || fuzz::HasLineBreak(op.key)) {
      FUZZ_CHECK(!op.accepted);
    }
    if (!whole) FUZZ_CHECK(!op.accepted);
  }
  if (batch) committed = file.CommitBatch();
  FUZZ_CHECK(fuzz::ScratchEntries() == 1);  // no temporary file left behind

  if (!whole || (batch && !committed)) {
    FUZZ_CHECK(fuzz::ReadBytes(path) == content);
    return 0;
  }

  // The last accepted write of each key wins; every other key keeps its value.
  std::map<std::pair<std::string, std::string>, std::string> expected = before;
  for (const WriteOp& op : ops) {
    if (op.accepted) expected[Name(op.section, op.key)] = op.value;
  }
  const std::string after = fuzz::ReadBytes(path);
  platform::IniFile again(path);
  for (const auto& [name, value] : expected) {
    // Only names that address one key the same way before and after are comparable.
    if (name.first.empty() || name.second.empty()) continue;
    FUZZ_CHECK(ReadExact(again, name.first.c_str(), name.second.c_str(), after.size() * 2 + 2) == value);
  }
  return 0;
}
