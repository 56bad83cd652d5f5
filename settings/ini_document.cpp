#include "settings/ini_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/text.h"

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsWrapped(std::string_view text) {
  return text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front();
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
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
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

}  // namespace

// Key names compare like the system's profile services compare them: ASCII letters without case.
std::size_t IniDocument::CaselessHash::operator()(std::string_view text) const {
  std::size_t h = 1469598103934665603ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(LowerAscii(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool IniDocument::CaselessEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IniDocument::HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IniDocument::IsStorableKey(std::string_view key) {
  if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos) return false;
  if (IsBlank(key.front()) || IsBlank(key.back())) return false;
  return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

bool IniDocument::IsStorableSection(std::string_view section) {
  if (section.empty() || HasLineBreak(section)) return false;
  return !IsBlank(section.front()) && !IsBlank(section.back());
}

bool IniDocument::Parse(std::string raw) {
  encoding_ = raw.size() < 2                         ? Encoding::kBytes
              : raw[0] == '\xFF' && raw[1] == '\xFE' ? Encoding::kUtf16Le
              : raw[0] == '\xFE' && raw[1] == '\xFF' ? Encoding::kUtf16Be
                                                     : Encoding::kBytes;
  bool valid = true;
  if (encoding_ == Encoding::kBytes) {
    text_ = std::move(raw);
  } else if (!DecodeUtf16(std::string_view(raw).substr(0, raw.size() & ~std::size_t{1}),
                          encoding_ == Encoding::kUtf16Be, text_) ||
             raw.size() % 2 != 0) {
    text_.clear();
    valid = false;
  }
  ParseLines();
  return valid;
}

bool IniDocument::CanHold(std::string_view text) const { return encoding_ == Encoding::kBytes || IsUtf8(text); }

std::string IniDocument::Bytes() const {
  std::string text = Serialize();
  return encoding_ == Encoding::kBytes ? text : EncodeUtf16(text, encoding_ == Encoding::kUtf16Be);
}

bool IniDocument::Find(std::string_view section, std::string_view key, std::string_view& value) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return false;
  auto it = s->index.find(key);
  if (it == s->index.end()) return false;
  value = ValueOf(entries_[it->second]);
  return true;
}

bool IniDocument::Keys(std::string_view section, std::vector<std::string>& keys) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return false;
  for (std::size_t i : s->order) keys.emplace_back(entries_[i].key);
  return true;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
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

std::string IniDocument::Serialize() const {
  // (position in the old text, end of the replaced part, what goes there)
  struct Splice {
    std::size_t begin;
    std::size_t end;
    std::size_t entry;       // a changed line, or kNone
    const Section* section;  // the added keys of this section, or nullptr
  };
  std::vector<Splice> splices;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.written != kNone && e.lineBegin != kNone) splices.push_back({e.lineBegin, e.lineEnd, i, nullptr});
  }
  for (const auto& [name, s] : sections_) {
    if (!s.isNew && !s.added.empty()) splices.push_back({s.insertAt, s.insertAt, kNone, &s});
  }
  std::sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.begin < b.begin; });

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

void IniDocument::ParseLines() {
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
            entries_.push_back(
                Entry{key, pos, lineEnd, static_cast<std::size_t>(value.data() - base), value.size(), kNone});
            current->index.emplace(key, entries_.size() - 1);
            current->order.push_back(entries_.size() - 1);
          }
        }
      }
    }
    pos = next;
  }
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  auto it = sections_.find(ToLowerAsciiCopy(std::string(name)));
  return it == sections_.end() ? nullptr : &it->second;
}
IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  auto it = sections_.find(ToLowerAsciiCopy(std::string(name)));
  return it == sections_.end() ? nullptr : &it->second;
}

std::string_view IniDocument::ValueOf(const Entry& e) const {
  if (e.written != kNone) return written_[e.written];
  return std::string_view(text_).substr(e.valueBegin, e.valueSize);
}

// New lines begin on a line of their own even when the file lacks its last line end.
void IniDocument::StartLine(std::string& out) const {
  if (!out.empty() && out.back() != '\n') out += eol_;
}

void IniDocument::AppendLine(std::string& out, const Entry& e, bool withEnd) const {
  out += e.key;
  out += '=';
  out += EncodeValue(ValueOf(e));
  if (withEnd) out += eol_;
}
