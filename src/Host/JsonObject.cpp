#include "Host/JsonObject.h"

#include <cstdio>

namespace kefhost {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 when none starts there.
size_t utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length;
  unsigned int minimum;
  unsigned int code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond Unicode are invalid.
  if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string JsonObject::quote(const std::string& value) {
  std::string out = "\"";
  for (size_t i = 0; i < value.size();) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x80) {
      const size_t length = utf8SequenceLength(value, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(value, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

void JsonObject::addKey(const char* key) {
  if (!members_.empty()) members_ += ",";
  members_ += quote(key) + ":";
}

JsonObject& JsonObject::addString(const char* key, const std::string& value) {
  addKey(key);
  members_ += quote(value);
  return *this;
}

JsonObject& JsonObject::addNumber(const char* key, int64_t value) {
  addKey(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::addBool(const char* key, bool value) {
  addKey(key);
  members_ += value ? "true" : "false";
  return *this;
}

}  // namespace kefhost
