#include "Base/BaseTypes/VString.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/FormatStr.h"

namespace tvan {

namespace {

std::u16string widen(const char* text, size_t length) {
  std::u16string out(length, u'\0');
  for (size_t i = 0; i < length; ++i) {
    out[i] = static_cast<unsigned char>(text[i]);
  }
  return out;
}

std::u16string fromNumber(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::u16string fromNumber(const char* format, ...) {
  char buffer[512];  // "%f" of the largest double needs 317 characters
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= sizeof buffer) n = sizeof buffer - 1;
  return widen(buffer, static_cast<size_t>(n));
}

size_t unitCount(const char16_t* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

size_t checkedPos(int pos, size_t size, const char* what) {
  if (pos < 0 || static_cast<size_t>(pos) > size) {
    throw std::out_of_range(std::string("VString::") + what + ": position out of range");
  }
  return static_cast<size_t>(pos);
}

// The number of units `n` selects from a text of `size` units: all of it when
// `n` is 0 or larger than the text.
size_t prefixCount(int n, size_t size) {
  if (n <= 0 || static_cast<size_t>(n) > size) return size;
  return static_cast<size_t>(n);
}

bool inSet(char16_t c, const std::u16string& set) {
  return set.find(c) != std::u16string::npos;
}

}  // namespace

VString::VString(const char* text) { assign(text, -1); }

VString::VString(const std::string& text)
    : text_(widen(text.data(), text.size())), narrow_(text), narrowState_(kReady) {}

VString::VString(const VString& other) : text_(other.text_) {
  if (other.narrowReady()) setNarrow(other.narrow_);
}

VString::VString(VString&& other) noexcept : text_(std::move(other.text_)) {
  if (other.narrowReady()) setNarrow(std::move(other.narrow_));
  other.text_.clear();
  other.textChanged();
}

VString& VString::operator=(const VString& other) {
  if (this != &other) {
    text_ = other.text_;
    if (other.narrowReady()) {
      setNarrow(other.narrow_);
    } else {
      textChanged();
    }
  }
  return *this;
}

VString& VString::operator=(VString&& other) noexcept {
  if (this != &other) {
    text_ = std::move(other.text_);
    if (other.narrowReady()) {
      setNarrow(std::move(other.narrow_));
    } else {
      textChanged();
    }
    other.text_.clear();
    other.textChanged();
  }
  return *this;
}

void VString::setNarrow(std::string narrow) {
  narrow_ = std::move(narrow);
  narrowState_.store(kReady, std::memory_order_release);
}

VString::VString(const char16_t* text) {
  if (text) text_.assign(text, unitCount(text));
}

VString::VString(const std::u16string& text) : text_(text) {}

VString::VString(std::u16string&& text) noexcept : text_(std::move(text)) {}

VString::VString(const std::wstring& text) : text_(text.size(), u'\0') {
  for (size_t i = 0; i < text.size(); ++i) {
    text_[i] = static_cast<char16_t>(text[i]);
  }
}

VString::VString(char16_t c) : text_(1, c) {}
VString::VString(bool value) : text_(value ? u"1" : u"0") {}
VString::VString(int value) : text_(fromNumber("%d", value)) {}
VString::VString(long value) : text_(fromNumber("%ld", value)) {}
VString::VString(unsigned value) : text_(fromNumber("%u", value)) {}
VString::VString(unsigned long value) : text_(fromNumber("%lu", value)) {}
VString::VString(float value) : text_(fromNumber("%f", static_cast<double>(value))) {}
VString::VString(double value) : text_(fromNumber("%f", value)) {}

VString& VString::operator=(const char* text) { return assign(text, -1); }

VString& VString::operator=(const std::string& text) {
  text_ = widen(text.data(), text.size());
  setNarrow(text);
  return *this;
}

VString& VString::assign(const char* text, int length) {
  // Latin-1 maps every byte to a unit, so unlike a code-page conversion this
  // cannot meet an invalid sequence.
  if (text == nullptr || length == 0) {
    clear();
    return *this;
  }
  size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  text_ = widen(text, n);
  setNarrow(std::string(text, n));
  return *this;
}

bool VString::isNarrow() const {
  for (char16_t c : text_) {
    if (c > 0xFF) return false;
  }
  return true;
}

std::string VString::narrow() const {
  if (narrowReady()) return narrow_;
  std::string out(text_.size(), '\0');
  for (size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] > 0xFF) {
      throw Error(__FILE__, __LINE__, "VString: Narrowing unicode string.\n");
    }
    out[i] = static_cast<char>(static_cast<unsigned char>(text_[i]));
  }
  return out;
}

const char* VString::asChar() const {
  unsigned char state = narrowState_.load(std::memory_order_acquire);
  while (state != kReady) {
    if (state == kStale &&
        narrowState_.compare_exchange_weak(state, kFilling, std::memory_order_acquire)) {
      try {
        narrow_ = narrow();
      } catch (...) {
        narrowState_.store(kStale, std::memory_order_release);
        throw;
      }
      narrowState_.store(kReady, std::memory_order_release);
      break;
    }
    if (state == kFilling) std::this_thread::yield();
    state = narrowState_.load(std::memory_order_acquire);
  }
  return narrow_.c_str();
}

std::string VString::multibyte() const {
  // wchar_t holds whole code points here: a surrogate pair becomes one
  // character, so text outside the first plane converts in a UTF-8 locale.
  std::wstring wide;
  wide.reserve(text_.size());
  for (size_t i = 0; i < text_.size(); ++i) {
    const char32_t c = text_[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text_.size() && text_[i + 1] >= 0xDC00 &&
        text_[i + 1] <= 0xDFFF) {
      wide += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text_[++i] - 0xDC00));
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  size_t size = std::wcstombs(nullptr, wide.c_str(), 0);
  if (size == static_cast<size_t>(-1)) {
    throw Error(__FILE__, __LINE__,
                "VString: Wide character cannot be converted to multibyte in current locale.\n");
  }
  std::string out(size + 1, '\0');
  size_t written = std::wcstombs(&out[0], wide.c_str(), size + 1);
  if (written == static_cast<size_t>(-1)) {
    throw Error(__FILE__, __LINE__,
                "VString: Wide character cannot be converted to multibyte in current locale.\n");
  }
  out.resize(written);
  return out;
}

std::wstring VString::toWString() const {
  std::wstring out(text_.size(), L'\0');
  for (size_t i = 0; i < text_.size(); ++i) out[i] = static_cast<wchar_t>(text_[i]);
  return out;
}

int VString::asInteger() const { return std::atoi(asChar()); }

float VString::asReal() const { return static_cast<float>(std::atof(asChar())); }

std::vector<int> VString::asIntegerVector(const VString& delimiters) const {
  std::vector<int> out;
  for (const VString& piece : split(delimiters, false)) out.push_back(piece.asInteger());
  return out;
}

std::vector<float> VString::asRealVector(const VString& delimiters) const {
  std::vector<float> out;
  for (const VString& piece : split(delimiters, false)) out.push_back(piece.asReal());
  return out;
}

char16_t VString::at(int pos) const {
  if (pos < 0 || static_cast<size_t>(pos) >= text_.size()) {
    throw std::out_of_range("VString::at: position out of range");
  }
  return text_[static_cast<size_t>(pos)];
}

VString& VString::append(const VString& s, int n) {
  if (&s == this) return *this;
  text_.append(s.text_, 0, prefixCount(n, s.text_.size()));
  textChanged();
  return *this;
}

VString& VString::append(const char16_t* s, int n) {
  if (s == nullptr) return *this;
  size_t size = unitCount(s);
  // A pointer into our own text appends nothing, as for an object.
  if (s >= text_.data() && s <= text_.data() + text_.size()) return *this;
  text_.append(s, prefixCount(n, size));
  textChanged();
  return *this;
}

VString& VString::append(const char* s, int n) {
  if (s == nullptr) return *this;
  size_t size = std::strlen(s);
  text_ += widen(s, prefixCount(n, size));
  textChanged();
  return *this;
}

VString& VString::operator+=(const VString& s) {
  text_ += s.text_;  // unlike append, s may be *this
  textChanged();
  return *this;
}

VString& VString::operator+=(char16_t c) {
  text_ += c;
  textChanged();
  return *this;
}

VString& VString::insert(int pos, const VString& s) {
  text_.insert(checkedPos(pos, text_.size(), "insert"), s.text_);
  textChanged();
  return *this;
}

VString& VString::erase(int pos, int n) {
  size_t count = n < 0 ? std::u16string::npos : static_cast<size_t>(n);
  text_.erase(checkedPos(pos, text_.size(), "erase"), count);
  textChanged();
  return *this;
}

VString& VString::set(int pos, char16_t c) {
  if (pos < 0 || static_cast<size_t>(pos) >= text_.size()) {
    throw std::out_of_range("VString::set: position out of range");
  }
  text_[static_cast<size_t>(pos)] = c;
  textChanged();
  return *this;
}

VString VString::substr(int pos, int n) const {
  size_t count = n < 0 ? std::u16string::npos : static_cast<size_t>(n);
  return VString(text_.substr(checkedPos(pos, text_.size(), "substr"), count));
}

int VString::findFirstOf(const VString& set, int pos) const {
  if (set.empty() || pos < 0) return npos;
  size_t found = text_.find_first_of(set.text_, static_cast<size_t>(pos));
  return found == std::u16string::npos ? npos : static_cast<int>(found);
}

int VString::find_first_of(const char16_t* set, int pos) const {
  if (set == nullptr) return npos;
  return findFirstOf(VString(set), pos);
}

int VString::find(const VString& s, int pos) const {
  if (pos < 0) return npos;
  size_t found = text_.find(s.text_, static_cast<size_t>(pos));
  return found == std::u16string::npos ? npos : static_cast<int>(found);
}

void VString::clear(bool) {
  text_.clear();
  setNarrow(std::string());
}

VString& VString::toUpper() {
  for (char16_t& c : text_) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  textChanged();
  return *this;
}

VString& VString::toLower() {
  for (char16_t& c : text_) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  textChanged();
  return *this;
}

VString& VString::stripChars(const VString& set) {
  if (set.empty()) return *this;
  std::u16string kept;
  kept.reserve(text_.size());
  for (char16_t c : text_) {
    if (!inSet(c, set.text_)) kept += c;
  }
  text_.swap(kept);
  textChanged();
  return *this;
}

VString& VString::stripWhiteSpace() {
  static const std::u16string kBlank = u" \t\n";
  size_t first = text_.find_first_not_of(kBlank);
  if (first == std::u16string::npos) {
    clear();
    return *this;
  }
  size_t last = text_.find_last_not_of(kBlank);
  text_ = text_.substr(first, last - first + 1);
  textChanged();
  return *this;
}

std::vector<VString> VString::split(const VString& delimiters, bool keepDelimiters) const {
  std::vector<VString> pieces;
  size_t start = 0;
  if (!delimiters.empty()) {
    size_t p;
    while ((p = text_.find_first_of(delimiters.text_, start)) != std::u16string::npos) {
      size_t end = keepDelimiters ? p + 1 : p;
      pieces.emplace_back(text_.substr(start, end - start));
      start = p + 1;
    }
  }
  pieces.emplace_back(text_.substr(start));
  return pieces;
}

VString& VString::join(const std::vector<VString>& parts, const VString& separator) {
  std::u16string joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator.text_;
    joined += parts[i].text_;
  }
  text_.swap(joined);
  textChanged();
  return *this;
}

VString operator+(const VString& a, const VString& b) {
  std::u16string sum;
  sum.reserve(a.wide().size() + b.wide().size());
  sum += a.wide();
  sum += b.wide();
  return VString(std::move(sum));
}

std::ostream& operator<<(std::ostream& os, const VString& s) {
  // The length, not the terminator, ends the text: a zero unit is written too.
  return os << std::string_view(s.asChar(), static_cast<size_t>(s.length()));
}

std::wostream& operator<<(std::wostream& os, const VString& s) {
  return os << s.toWString();
}

VString formatVStr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformatStr(format, args);
  va_end(args);
  return VString(text);
}

VString& pythonEscape(VString& s) {
  std::u16string out;
  const std::u16string& in = s.wide();
  out.reserve(in.size());
  for (char16_t c : in) {
    switch (c) {
      case u'\n': out += u"\\n"; break;
      case u'\t': out += u"\\t"; break;
      case u'\r': out += u"\\r"; break;
      case u'\\': out += u"\\\\"; break;
      case u'^': out += u'.'; break;
      default: out += c; break;
    }
  }
  s = VString(std::move(out));
  return s;
}

}  // namespace tvan
