#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The text of a profile file, read and changed in memory; no file is touched here, so every
// edition and the fuzzer run the same parser and writer.
//
// Reading follows the system profile services: LF or CRLF line ends; blanks around names, '=' and
// values ignored; a value in one pair of double (or single) quotes unwrapped; lines starting with
// ';' or '#' are comments; lines without '=' are ignored; the first of duplicate keys wins. Every
// byte that is not written to is kept: other sections, comments, junk lines and line ends. Bytes
// that start with a UTF-16 byte order mark (as editors on Windows write them) are read as UTF-16
// and written back in the same encoding; a value it cannot hold (bytes that are no UTF-8) is
// refused.
class IniDocument {
 public:
  IniDocument() = default;
  // Views into the text would dangle in a copy.
  IniDocument(const IniDocument&) = delete;
  IniDocument& operator=(const IniDocument&) = delete;

  // Takes a file's bytes. False when they claim UTF-16 and are not: the document is then empty,
  // since whatever we wrote would be read back as something else.
  bool Parse(std::string raw);

  bool Find(std::string_view section, std::string_view key, std::string_view& value) const;
  // Appends the section's key names in file order, then the added ones; false without the section.
  bool Keys(std::string_view section, std::vector<std::string>& keys) const;
  // An existing key keeps its line, a new key goes to the end of its section, a new section to the
  // end of the text. The caller has checked the names with the Is* functions below.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // Whether the document's encoding can carry the text: a UTF-16 file only well-formed UTF-8.
  bool CanHold(std::string_view text) const;
  // The bytes of the file as the changes would leave it.
  std::string Bytes() const;
  bool Dirty() const { return dirty_; }

  // A name must come back from the file as the same name, or a later read would miss it; no text
  // may break a line.
  static bool IsStorableKey(std::string_view key);
  static bool IsStorableSection(std::string_view section);
  static bool HasLineBreak(std::string_view text);

 private:
  enum class Encoding { kBytes, kUtf16Le, kUtf16Be };
  struct Entry {
    std::string_view key;   // the first spelling, in text_ or ownedText_
    std::size_t lineBegin;  // the line's text without its line end, or kNone for an added key
    std::size_t lineEnd;
    std::size_t valueBegin;  // the value as read, in text_
    std::size_t valueSize;
    std::size_t written;  // index into written_, or kNone while unchanged
  };
  struct CaselessHash {
    std::size_t operator()(std::string_view text) const;
  };
  struct CaselessEqual {
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct Section {
    std::string name;
    bool isNew = false;
    std::size_t insertAt = 0;  // just after the section's last key line (or its header)
    std::unordered_map<std::string_view, std::size_t, CaselessHash, CaselessEqual> index;
    std::vector<std::size_t> order;  // entries in file order, then added ones
    std::vector<std::size_t> added;
  };

  void ParseLines();
  std::string Serialize() const;
  const Section* FindSection(std::string_view name) const;
  Section* FindSection(std::string_view name);
  std::string_view ValueOf(const Entry& e) const;
  void StartLine(std::string& out) const;
  void AppendLine(std::string& out, const Entry& e, bool withEnd) const;

  std::string text_;        // as UTF-8 when the file is UTF-16
  std::string eol_ = "\n";  // new lines follow the file's own line ends
  Encoding encoding_ = Encoding::kBytes;
  bool dirty_ = false;
  std::unordered_map<std::string, Section> sections_;  // by lower-cased name
  std::vector<const Section*> newSections_;
  std::vector<Entry> entries_;
  std::deque<std::string> ownedText_;  // names of added keys; a deque keeps them in place
  std::vector<std::string> written_;
};
