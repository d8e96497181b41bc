#include "KEF/Database/internal/PgParameters.h"

#include <cstring>

#include "KEF/Database/internal/Utf8Text.h"

namespace tvan {
namespace dbinternal {

namespace {

// encode's layout, per parameter: one flag byte, the value's length as 4
// bytes (least significant first), the value.
constexpr char kNull = 1;
constexpr char kBinary = 2;

void appendLength(std::string& out, uint32_t length) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
}

}  // namespace

void PgParameters::resize(int count) {
  values_.assign(count, std::string());
  isNull_.assign(count, 1);
  lengths_.assign(count, 0);
  formats_.assign(count, 0);
}

void PgParameters::setText(int number, const std::string& text) {
  const int i = number - 1;
  values_.at(i) = validUtf8(text);
  isNull_[i] = 0;
  lengths_[i] = 0;  // text format: read up to the NUL
  formats_[i] = 0;
}

void PgParameters::setBytes(int number, const std::string& bytes) {
  const int i = number - 1;
  values_.at(i) = bytes;
  isNull_[i] = 0;
  lengths_[i] = static_cast<int>(bytes.size());
  formats_[i] = 1;
}

void PgParameters::setInt64(int number, int64_t value) {
  // Decimal text: the server reads it as whatever number type the
  // parameter turned out to be.
  setText(number, std::to_string(value));
}

void PgParameters::clear() {
  for (size_t i = 0; i < values_.size(); ++i) {
    values_[i].clear();
    isNull_[i] = 1;
    lengths_[i] = 0;
    formats_[i] = 0;
  }
}

const char* const* PgParameters::values() const {
  pointers_.resize(values_.size());
  for (size_t i = 0; i < values_.size(); ++i) {
    pointers_[i] = isNull_[i] ? nullptr : values_[i].c_str();
  }
  return pointers_.data();
}

std::string PgParameters::encode() const {
  std::string out;
  for (size_t i = 0; i < values_.size(); ++i) {
    out += static_cast<char>((isNull_[i] ? kNull : 0) | (formats_[i] == 1 ? kBinary : 0));
    appendLength(out, static_cast<uint32_t>(values_[i].size()));
    out += values_[i];
  }
  return out;
}

bool PgParameters::decode(const std::string& bytes, PgParameters& parameters) {
  std::vector<std::string> values;
  std::vector<char> flags;
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 5) return false;
    const char flag = bytes[at];
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
      length |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1 + i])) << (8 * i);
    }
    at += 5;
    if (bytes.size() - at < length) return false;
    values.push_back(bytes.substr(at, length));
    flags.push_back(flag);
    at += length;
  }
  parameters.resize(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    if (flags[i] & kNull) continue;
    if (flags[i] & kBinary) {
      parameters.setBytes(number, values[i]);
    } else {
      parameters.values_[i] = std::move(values[i]);  // made valid when it was set
      parameters.isNull_[i] = 0;
    }
  }
  return true;
}

}  // namespace dbinternal
}  // namespace tvan
