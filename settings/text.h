#pragma once
#include <string>

// The one case rule for every path that is compared with another: only the 26 ASCII capitals are
// lowered, byte by byte. It knows nothing of multi-byte characters, so a trailing byte in 'A'..'Z'
// is lowered too; equal files must give equal texts on both sides of every comparison.
inline std::string& ToLowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

inline std::string ToLowerAsciiCopy(std::string text) { return ToLowerAscii(text); }
