#include "settings/ini_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "base/text.h"

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsWrapped(std::string_view text) {
  return text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front();
}

// Key names compare like the system's profile services compare them: ASCII letters without case.
struct CaselessHash {
  std::size_t operator()(std::string_view text) const {
    std::size_t h = 1469598103934665603ull;
    for (char c : text) {
      h ^= static_cast<unsigned char>(LowerAscii(c));
      h *= 1099511628211ull;
    }
    return h;
  }
};
struct CaselessEqual {
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
  }
};

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A name must come back from the file as the same name, or a later read would miss it.
bool IsStorableKey(std::string_view key) {
  if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos) return false;
  if (IsBlank(key.front()) || IsBlank(key.back())) return false;
  return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

bool IsStorableSection(std::string_view section) {
  if (section.empty() || HasLineBreak(section)) return false;
  return !IsBlank(section.front()) && !IsBlank(section.back());
}

// Reading trims blanks and unwraps one pair of quotes, so a value that would lose either gets a
// pair of double quotes of its own.
std::string EncodeValue(std::string_view value) {
  if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || IsWrapped(value))) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    quoted += value;
    quoted += '"';
    return quoted;
  }
  return std::string(value);
}

// ---- UTF-16 files --------------------------------------------------------------------------------

enum class Encoding { kBytes, kUtf16Le, kUtf16Be };

Encoding EncodingOf(std::string_view raw) {
  if (raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE') return Encoding::kUtf16Le;
  if (raw.size() >= 2 && raw[0] == '\xFE' && raw[1] == '\xFF') return Encoding::kUtf16Be;
  return Encoding::kBytes;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text after the byte order mark as UTF-8; false for an odd length or a lone surrogate.
bool DecodeUtf16(std::string_view raw, bool bigEndian, std::string& text) {
  raw.remove_prefix(2);
  if (raw.size() % 2 != 0) return false;
  text.clear();
  text.reserve(raw.size() / 2 + raw.size() / 8);
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(raw[i]);
    const auto b = static_cast<unsigned char>(raw[i + 1]);
    return static_cast<std::uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (std::size_t i = 0; i < raw.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 2 >= raw.size()) return false;
      const std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(text, c);
  }
  return true;
}

// Walks well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); false at the
// first byte that is none.
template <class Each>
bool ForEachCodePoint(std::string_view text, Each each) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    each(c);
    i += length;
  }
  return true;
}

bool IsUtf8(std::string_view text) {
  return ForEachCodePoint(text, [](std::uint32_t) {});
}

std::string EncodeUtf16(std::string_view text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  out.reserve(2 + text.size() * 2);
  auto put = [&](std::uint32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  ForEachCodePoint(text, [&](std::uint32_t c) {
    if (c < 0x10000) {
      put(c);
    } else {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  });
  return out;
}

// A commit killed in mid-write leaves its temporary file ".<name>.tmp-<pid>-<n>" behind, and
// nobody else would ever remove it. Those of writers that are gone are removed; a writer that
// still runs (or a process that now has its id) keeps its file.
void RemoveOrphanedTemporaries(const std::string& dir, const std::string& name) {
  const std::string prefix = "." + name + ".tmp-";
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    std::string_view file = entry->d_name;
    if (file.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = file.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
    long pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      digits = digits && c >= '0' && c <= '9';
      pid = pid * 10 + (c - '0');
    }
    if (!digits || pid <= 0 || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(listing), entry->d_name, 0);
  }
  closedir(listing);
}

}  // namespace

// The file as read, with the changes of the running batch kept beside it. The text itself is never
// rebuilt line by line: changed and added lines are spliced into it when it is written, so every
// byte nobody wrote to stays as it was.
class IniFile::Document {
 public:
  static std::unique_ptr<Document> Load(const std::string& path, std::size_t maxSize) {
    auto doc = std::make_unique<Document>();
    std::string raw;
    bool exists = false;
    doc->writable_ = ReadWholeFile(path, maxSize, raw, exists, doc->error_);
    doc->fingerprint_ = !doc->writable_ ? std::string() : exists ? FingerprintOf(raw) : std::string(kMissingFile);
    doc->encoding_ = EncodingOf(raw);
    if (doc->encoding_ == Encoding::kBytes) {
      doc->text_ = std::move(raw);
    } else if (!DecodeUtf16(raw.substr(0, raw.size() & ~std::size_t{1}), doc->encoding_ == Encoding::kUtf16Be,
                            doc->text_) ||
               raw.size() % 2 != 0) {
      // Not what it claims to be: whatever we wrote would be read back as something else.
      if (doc->writable_) doc->error_ = "not valid UTF-16";
      doc->writable_ = false;
      doc->fingerprint_.clear();
      doc->text_.clear();
    }
    doc->Parse();
    return doc;
  }

  bool Writable() const { return writable_; }
  const std::string& Error() const { return error_; }
  const std::string& Fingerprint() const { return fingerprint_; }
  // Whether the file's encoding can carry the text: a UTF-16 file only well-formed UTF-8.
  bool CanHold(std::string_view text) const { return encoding_ == Encoding::kBytes || IsUtf8(text); }
  // The bytes of the file as the batch would leave it.
  std::string Bytes() const {
    std::string text = Serialize();
    return encoding_ == Encoding::kBytes ? text : EncodeUtf16(text, encoding_ == Encoding::kUtf16Be);
  }
  bool Dirty() const { return dirty_; }

  bool Find(std::string_view section, std::string_view key, std::string_view& value) const {
    const Section* s = FindSection(section);
    if (s == nullptr) return false;
    auto it = s->index.find(key);
    if (it == s->index.end()) return false;
    value = ValueOf(entries_[it->second]);
    return true;
  }

  bool Keys(std::string_view section, std::vector<std::string>& keys) const {
    const Section* s = FindSection(section);
    if (s == nullptr) return false;
    for (std::size_t i : s->order) keys.emplace_back(entries_[i].key);
    return true;
  }

  void Set(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (s == nullptr) {
      s = &sections_[ToLowerAsciiCopy(std::string(section))];
      s->name = section;
      s->isNew = true;
      newSections_.push_back(s);
    }
    auto it = s->index.find(key);
    if (it == s->index.end()) {
      std::string_view storedKey = ownedText_.emplace_back(key);
      entries_.push_back(Entry{storedKey, kNone, 0, 0, 0, kNone});
      it = s->index.emplace(storedKey, entries_.size() - 1).first;
      s->order.push_back(entries_.size() - 1);
      s->added.push_back(entries_.size() - 1);
    }
    Entry& e = entries_[it->second];
    if (e.written == kNone) {
      e.written = written_.size();
      written_.emplace_back(value);
    } else {
      written_[e.written] = value;
    }
    dirty_ = true;
  }

  std::string Serialize() const {
    // (position in the old text, end of the replaced part, what goes there)
    struct Splice {
      std::size_t begin;
      std::size_t end;
      std::size_t entry;          // a changed line, or kNone
      const Section* section;     // the added keys of this section, or nullptr
    };
    std::vector<Splice> splices;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (e.written != kNone && e.lineBegin != kNone) splices.push_back({e.lineBegin, e.lineEnd, i, nullptr});
    }
    for (const auto& [name, s] : sections_) {
      if (!s.isNew && !s.added.empty()) splices.push_back({s.insertAt, s.insertAt, kNone, &s});
    }
    std::sort(splices.begin(), splices.end(),
              [](const Splice& a, const Splice& b) { return a.begin < b.begin; });

    std::string out;
    out.reserve(text_.size() + 64 * written_.size() + 64);
    std::size_t copied = 0;
    for (const Splice& sp : splices) {
      out.append(text_, copied, sp.begin - copied);
      if (sp.section == nullptr) {
        AppendLine(out, entries_[sp.entry], false);
      } else {
        StartLine(out);
        for (std::size_t i : sp.section->added) AppendLine(out, entries_[i], true);
      }
      copied = sp.end;
    }
    out.append(text_, copied, std::string::npos);
    for (const Section* s : newSections_) {
      StartLine(out);
      out += '[';
      out += s->name;
      out += ']';
      out += eol_;
      for (std::size_t i : s->added) AppendLine(out, entries_[i], true);
    }
    return out;
  }

 private:
  struct Entry {
    std::string_view key;  // the first spelling, in text_ or ownedText_
    std::size_t lineBegin;  // the line's text without its line end, or kNone for an added key
    std::size_t lineEnd;
    std::size_t valueBegin;  // the value as read, in text_
    std::size_t valueSize;
    std::size_t written;  // index into written_, or kNone while unchanged
  };
  struct Section {
    std::string name;
    bool isNew = false;
    std::size_t insertAt = 0;  // just after the section's last key line (or its header)
    std::unordered_map<std::string_view, std::size_t, CaselessHash, CaselessEqual> index;
    std::vector<std::size_t> order;  // entries in file order, then added ones
    std::vector<std::size_t> added;
  };

  // False when a file is there but could not be taken whole (unreadable, not a plain file, too
  // big): writing it over would lose what we could not read. `text` keeps what could be read,
  // `error` says why.
  static bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& text, bool& exists,
                            std::string& error) {
    // O_NONBLOCK: a FIFO put in the file's place must not stall the program.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    exists = fd >= 0 || errno != ENOENT;
    if (fd < 0) {
      if (exists) error = std::strerror(errno);
      return !exists;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      error = "not a regular file";
      close(fd);
      return false;
    }
    bool whole = true;
    char chunk[65536];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        error = std::strerror(errno);
        whole = false;
        break;
      }
      if (n == 0) break;
      std::size_t room = maxSize - text.size();
      if (static_cast<std::size_t>(n) > room) {
        text.append(chunk, room);
        error = "larger than " + std::to_string(maxSize) + " bytes";
        whole = false;
        break;
      }
      text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return whole;
  }

  void Parse() {
    const std::size_t size = text_.size();
    const char* base = text_.data();
    if (const void* nl = std::memchr(base, '\n', size)) {
      std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
      if (at > 0 && base[at - 1] == '\r') eol_ = "\r\n";
    }
    Section* current = nullptr;
    // Editors on Windows like to start a UTF-8 file with a byte order mark; it is no part of the
    // first line. It stays in the file, as every byte nobody wrote to does.
    std::size_t pos = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < size) {
      const void* nl = std::memchr(base + pos, '\n', size - pos);
      std::size_t lineEnd = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - base) : size;
      std::size_t next = nl ? lineEnd + 1 : size;
      if (nl && lineEnd > pos && base[lineEnd - 1] == '\r') --lineEnd;
      std::string_view line = Trim(std::string_view(base + pos, lineEnd - pos));
      if (!line.empty() && line.front() == '[') {
        std::size_t close = line.rfind(']');
        // A '[' line without its ']' is junk and does not end the section it stands in.
        if (close != std::string_view::npos) {
          std::string_view name = Trim(line.substr(1, close - 1));
          current = FindSection(name);
          if (current == nullptr) {
            current = &sections_[ToLowerAsciiCopy(std::string(name))];
            current->name = name;
            current->insertAt = next;
          }
        }
      } else if (!line.empty() && line.front() != ';' && line.front() != '#' && current != nullptr) {
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) {
          std::string_view key = Trim(line.substr(0, eq));
          if (!key.empty()) {
            std::string_view value = Trim(line.substr(eq + 1));
            if (IsWrapped(value)) value = value.substr(1, value.size() - 2);
            current->insertAt = next;
            if (current->index.find(key) == current->index.end()) {
              entries_.push_back(Entry{key, pos, lineEnd, static_cast<std::size_t>(value.data() - base),
                                       value.size(), kNone});
              current->index.emplace(key, entries_.size() - 1);
              current->order.push_back(entries_.size() - 1);
            }
          }
        }
      }
      pos = next;
    }
  }

  const Section* FindSection(std::string_view name) const {
    auto it = sections_.find(ToLowerAsciiCopy(std::string(name)));
    return it == sections_.end() ? nullptr : &it->second;
  }
  Section* FindSection(std::string_view name) {
    auto it = sections_.find(ToLowerAsciiCopy(std::string(name)));
    return it == sections_.end() ? nullptr : &it->second;
  }

  std::string_view ValueOf(const Entry& e) const {
    if (e.written != kNone) return written_[e.written];
    return std::string_view(text_).substr(e.valueBegin, e.valueSize);
  }

  // New lines begin on a line of their own even when the file lacks its last line end.
  void StartLine(std::string& out) const {
    if (!out.empty() && out.back() != '\n') out += eol_;
  }

  void AppendLine(std::string& out, const Entry& e, bool withEnd) const {
    out += e.key;
    out += '=';
    out += EncodeValue(ValueOf(e));
    if (withEnd) out += eol_;
  }

  std::string text_;  // as UTF-8 when the file is UTF-16
  std::string eol_ = "\n";  // new lines follow the file's own line ends
  Encoding encoding_ = Encoding::kBytes;
  std::string fingerprint_;
  std::string error_;
  bool writable_ = true;
  bool dirty_ = false;
  std::unordered_map<std::string, Section> sections_;  // by lower-cased name
  std::vector<const Section*> newSections_;
  std::vector<Entry> entries_;
  std::deque<std::string> ownedText_;  // names of added keys; a deque keeps them in place
  std::vector<std::string> written_;
};

IniFile::IniFile(std::string path, std::size_t maxFileSize)
    : path_(std::move(path)), maxFileSize_(maxFileSize) {}

IniFile::~IniFile() = default;

void IniFile::SetFaultsForTesting(IniFileFaults faults) { faults_ = std::move(faults); }

std::size_t IniFile::Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                          std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  std::unique_ptr<Document> fresh;
  const Document* doc = batch_.get();
  if (doc == nullptr) {
    fresh = Document::Load(path_, maxFileSize_);
    doc = fresh.get();
  }
  std::string_view value;
  if (section == nullptr || key == nullptr || !doc->Find(section, key, value)) {
    value = defaultValue != nullptr ? defaultValue : "";
  }
  // The caller gets a C string; what follows a NUL byte in the file could never reach it.
  value = value.substr(0, value.find('\0'));
  std::size_t n = std::min(value.size(), bufferSize - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

std::string IniFile::Fingerprint() const { return batch_ != nullptr ? batch_->Fingerprint() : fingerprint_; }

bool IniFile::Write(const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return false;
  if (!IsStorableSection(section) || !IsStorableKey(key) || HasLineBreak(value)) return false;
  const bool ownBatch = batch_ == nullptr;
  if (ownBatch) BeginBatch();
  if (!batch_->Writable() || !batch_->CanHold(section) || !batch_->CanHold(key) || !batch_->CanHold(value)) {
    if (ownBatch) DiscardBatch();
    return false;
  }
  batch_->Set(section, key, value);
  return ownBatch ? CommitBatch() : true;
}

bool IniFile::ReadKeys(const char* section, std::vector<std::string>& keys) {
  keys.clear();
  if (section == nullptr) return false;
  if (batch_ != nullptr) return batch_->Keys(section, keys);
  return Document::Load(path_, maxFileSize_)->Keys(section, keys);
}

bool IniFile::BeginBatch() {
  if (batch_ == nullptr) {
    batch_ = Document::Load(path_, maxFileSize_);
    fingerprint_ = batch_->Fingerprint();
    lastError_ = batch_->Error();
  }
  return batch_->Writable();
}

bool IniFile::CommitBatch() {
  std::unique_ptr<Document> doc = std::move(batch_);
  if (doc == nullptr || !doc->Dirty()) return true;
  if (!doc->Writable()) {
    lastError_ = doc->Error();
    return false;
  }
  const std::string bytes = doc->Bytes();
  if (!Commit(bytes)) {
    lastError_ = std::strerror(errno);
    return false;
  }
  fingerprint_ = FingerprintOf(bytes);
  lastError_.clear();
  return true;
}

void IniFile::DiscardBatch() { batch_.reset(); }

bool IniFile::Commit(const std::string& content) {
  using Step = IniFileFaults::Step;
  auto injected = [this](Step step, int error) {
    if (faults_.failAt && faults_.failAt(step)) {
      errno = error;
      return true;
    }
    return false;
  };

  // Renaming over a symbolic link would replace the link; the file it points to is the one to
  // replace.
  std::string target = path_;
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path_.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const bool exists = stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }

  std::size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

  // The temporary file lives beside the target: a rename is only atomic within one file system.
  static unsigned counter = 0;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + name + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (injected(Step::kCreateTemp, EACCES)) return false;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  auto fail = [&]() {
    const int error = errno;  // the reason, not what the cleaning up met
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    errno = error;
    return false;
  };

  if (exists) {
    // Owner first: changing it may clear set-id bits that the mode then puts back.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Only a privileged process can give a file away; the mode below still carries over.
    }
    if (fchmod(fd, st.st_mode & 07777) != 0) return fail();
  }

  std::size_t done = 0;
  while (done < content.size()) {
    std::size_t chunk = content.size() - done;
    if (faults_.diskFullAfterBytes >= 0) {
      std::size_t room = static_cast<std::size_t>(faults_.diskFullAfterBytes);
      if (done >= room) {
        errno = ENOSPC;
        return fail();
      }
      chunk = std::min(chunk, room - done);
    }
    if (injected(Step::kWrite, EIO)) return fail();
    ssize_t n = write(fd, content.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    done += static_cast<std::size_t>(n);
  }
  if (injected(Step::kSync, EIO) || fsync(fd) != 0) return fail();
  int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail();
  if (injected(Step::kRename, EACCES) || rename(temp.c_str(), target.c_str()) != 0) return fail();

  // Makes the rename itself durable. The new file is in place by now, so a file system that
  // cannot sync a directory does not make the commit a failure.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  RemoveOrphanedTemporaries(dir, name);
  return true;
}
