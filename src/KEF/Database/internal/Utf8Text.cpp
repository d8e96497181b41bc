#include "KEF/Database/internal/Utf8Text.h"

namespace tvan {
namespace dbinternal {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at `at`, without NUL; 0 when the
// byte there starts none.
size_t sequenceAt(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  if (first == 0) return 0;
  if (first < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;   // no overlong forms
    if (first == 0xED) high = 0x9F;  // no surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string validUtf8(const std::string& text) {
  // Most texts are ASCII: copied as they are after one scan.
  size_t at = 0;
  while (at < text.size() && static_cast<unsigned char>(text[at]) - 1u < 0x7Fu) ++at;
  if (at == text.size()) return text;
  std::string result = text.substr(0, at);
  while (at < text.size()) {
    const size_t length = sequenceAt(text, at);
    if (length == 0) {
      result += kReplacement;
      ++at;
    } else {
      result.append(text, at, length);
      at += length;
    }
  }
  return result;
}

}  // namespace dbinternal
}  // namespace tvan
