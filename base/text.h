#pragma once
// Byte-level text helpers every layer shares. Header-only and free of any library, so the lowest
// layer can use it without depending on the ones above.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// The one case rule for every path that is compared with another: only the 26 ASCII capitals are
// lowered, byte by byte. It knows nothing of multi-byte characters, so a trailing byte in 'A'..'Z'
// is lowered too; equal files must give equal texts on both sides of every comparison.
constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

inline std::string& ToLowerAscii(std::string& text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

inline std::string ToLowerAsciiCopy(std::string text) { return ToLowerAscii(text); }

// The text as it may appear inside one line of a log or a message: control bytes (CR, LF, ...)
// become \xNN, so that no text can start a line of its own. Other bytes, backslashes included,
// stay as they are.
inline std::string EscapeControlBytes(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// Cuts text to at most maxBytes bytes without splitting a character: the cut goes before a
// character that would not fit whole. Texts are UTF-8 in the Linux edition and code page 932 in the
// Windows edition (built with MAVRIN_TEXT_CP932).
inline std::string CutToBytes(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
#ifdef MAVRIN_TEXT_CP932
  // A lead byte (0x81-0x9F, 0xE0-0xFC) takes the next byte with it; walk from the start, since a
  // trail byte can look like a lead byte.
  std::size_t end = 0;
  while (end < maxBytes) {
    const auto c = static_cast<unsigned char>(text[end]);
    const std::size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
    if (end + width > maxBytes) break;
    end += width;
  }
  return text.substr(0, end);
#else
  // The first byte left out: if it continues a character (10xxxxxx), the cut goes before that
  // character's lead byte, at most three bytes back. Stray continuation bytes of invalid text are no
  // character; backing off over a long run of them would drop the whole text.
  std::size_t end = maxBytes;
  for (std::size_t back = 1; back <= 3 && back <= maxBytes; ++back) {
    if ((static_cast<unsigned char>(text[maxBytes - back + 1]) & 0xC0) != 0x80) break;
    if ((static_cast<unsigned char>(text[maxBytes - back]) & 0xC0) == 0xC0) {
      end = maxBytes - back;
      break;
    }
  }
  return text.substr(0, end);
#endif
}

// Blanks around names and values in the line-based files we read (settings, desktop entries). CR
// counts, so that a CRLF file trims like an LF one.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

constexpr std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The length of a name in a fixed-size array that the system fills: up to its zero, or the whole
// array when the name took every byte.
inline std::size_t NameLength(const char* name, std::size_t size) {
  const void* zero = std::memchr(name, '\0', size);
  return zero == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(zero) - name);
}
