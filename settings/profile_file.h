#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Sections of "key=value" lines in one text file, with the calling shape of the system's profile
// calls, so that each edition can put it on what its system offers. Section and key names match
// without regard to the case of ASCII letters.
//
// Writes can be gathered into a batch that reaches the disk in one step: either every write of
// the batch is in the file afterwards, or none is and the file is as it was before.
class ProfileFile {
 public:
  virtual ~ProfileFile() = default;

  // Copies the value of `key` in `section` into `buffer`, cut to bufferSize - 1 bytes and
  // zero-terminated, or `defaultValue` (nullptr counts as "") when the file, the section or the
  // key is missing or cannot be read. Returns the number of bytes copied without the zero; 0 when
  // bufferSize is 0 or buffer is nullptr.
  virtual std::size_t Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                           std::size_t bufferSize) = 0;

  // Sets `key` in `section` to `value`: an existing key keeps its line, a new key goes to the end
  // of its section, a missing section or file is created, an empty value keeps the key. Refuses
  // (false) names and values the file cannot hold, above all any text with CR or LF. Outside a
  // batch the write is committed at once and the result says whether it reached the disk; inside
  // a batch it says whether it was accepted, and CommitBatch tells the rest.
  virtual bool Write(const char* section, const char* key, const char* value) = 0;

  // The names of the keys of `section` in file order, each name once (the first spelling).
  // False, with `keys` empty, when the file or the section is missing or cannot be read.
  virtual bool ReadKeys(const char* section, std::vector<std::string>& keys) = 0;

  // Takes one snapshot of the file; until the batch ends, reads see the snapshot with the
  // batch's own writes, and writes stay in memory. False when the file exists but cannot be read
  // whole: its reads then see defaults and the commit will fail rather than replace it.
  virtual bool BeginBatch() = 0;
  // Puts the batch's writes into the file in one atomic step and ends the batch. False when they
  // did not reach the disk; the file then keeps its previous content. True without a batch or
  // without writes.
  virtual bool CommitBatch() = 0;
  // Ends the batch and forgets its writes.
  virtual void DiscardBatch() = 0;

  // The file's path, for messages.
  virtual const std::string& Path() const = 0;
  // Why the last BeginBatch or CommitBatch failed, in the system's words; empty when it did not
  // fail or no reason is known.
  virtual std::string LastError() const = 0;
  // What the file held as the running batch found it or, between batches, as the last batch found
  // it or the last successful commit left it: equal bytes give equal fingerprints. kMissingFile
  // when there was no file, empty when it could not be read.
  virtual std::string Fingerprint() const = 0;

  static constexpr const char kMissingFile[] = "missing";
};

// The fingerprint of a file's bytes: their length and a 64-bit FNV-1a hash.
inline std::string FingerprintOf(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(), static_cast<unsigned long long>(hash));
  return text;
}
