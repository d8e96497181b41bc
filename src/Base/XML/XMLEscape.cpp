#include "Base/XML/XMLEscape.h"

#include <cstring>

namespace {

struct Reference {
  const char* text;
  size_t length;
  char character;
};

constexpr Reference kReferences[] = {
    {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
};

// The reference that starts at text[pos], or null.
const Reference* referenceAt(const std::string& text, size_t pos) {
  for (const Reference& ref : kReferences) {
    if (text.compare(pos, ref.length, ref.text) == 0) return &ref;
  }
  return nullptr;
}

}  // namespace

void appendEscaped(std::string& out, const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t next = text.find_first_of("<>\"'&", pos);
    if (next == std::string::npos) {
      out.append(text, pos, std::string::npos);
      return;
    }
    out.append(text, pos, next - pos);
    pos = next;
    switch (text[pos]) {
      case '<': out += "&lt;"; ++pos; break;
      case '>': out += "&gt;"; ++pos; break;
      case '"': out += "&quot;"; ++pos; break;
      case '\'': out += "&apos;"; ++pos; break;
      default:  // '&'
        if (const Reference* ref = referenceAt(text, pos)) {
          out.append(ref->text, ref->length);
          pos += ref->length;
        } else {
          out += "&amp;";
          ++pos;
        }
    }
  }
}

void escapeChars(std::string& text) {
  if (text.find_first_of("<>\"'&") == std::string::npos) return;
  std::string out;
  out.reserve(text.size() + 16);
  appendEscaped(out, text);
  text.swap(out);
}

void unescapeChars(std::string& text) {
  size_t pos = text.find('&');
  if (pos == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  out.append(text, 0, pos);
  while (pos < text.size()) {
    if (text[pos] == '&') {
      if (const Reference* ref = referenceAt(text, pos)) {
        out += ref->character;
        pos += ref->length;
      } else {
        out += '&';
        ++pos;
      }
      continue;
    }
    const size_t next = text.find('&', pos);
    const size_t end = next == std::string::npos ? text.size() : next;
    out.append(text, pos, end - pos);
    pos = end;
  }
  text.swap(out);
}
