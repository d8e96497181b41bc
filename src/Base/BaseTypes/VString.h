#pragma once
// VString: the utility library's string. The text is held as UTF-16 code
// units; an 8-bit (ISO-8859-1) form is produced on demand and cached, so that
// asChar() can hand out a `const char*`.
//
// 8-bit text is ISO-8859-1 in both directions: every byte becomes the code
// unit of the same value, and narrowing takes the low byte of every unit
// (refused when a unit is above 255). So narrow(VString(bytes)) == bytes for
// every byte string.
//
// Thread safety: like std::string; in addition asChar() may be called on one
// object from several threads at once (the cache is filled once).
#include <atomic>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace tvan {

class VString {
 public:
  // Positions and lengths count 16-bit units; "not found" is -1.
  static constexpr int npos = -1;

  VString() = default;
  VString(const char* text);         // NOLINT: implicit by design
  VString(const std::string& text);  // NOLINT
  VString(const char16_t* text);     // NOLINT: zero-terminated wide text
  VString(const std::u16string& text);  // NOLINT
  VString(std::u16string&& text) noexcept;  // NOLINT
  explicit VString(const std::wstring& text);  // each wchar_t cut to 16 bits
  explicit VString(char16_t c);                // one unit
  explicit VString(bool value);                // "1" or "0"
  explicit VString(int value);                 // decimal
  explicit VString(long value);                // decimal
  explicit VString(unsigned value);            // decimal
  explicit VString(unsigned long value);       // decimal
  explicit VString(float value);               // "%f": 1.5 gives "1.500000"
  explicit VString(double value);              // "%f"

  VString(const VString& other);
  VString(VString&& other) noexcept;
  VString& operator=(const VString& other);
  VString& operator=(VString&& other) noexcept;
  VString& operator=(const char* text);
  VString& operator=(const std::string& text);

  // Replaces the text with `length` bytes of `text` (-1: up to the
  // terminating zero), each byte mapped to the unit of the same value.
  // A null text or a length of 0 gives the empty text.
  VString& assign(const char* text, int length = -1);

  // Heap copy owned by the caller.
  VString* clone() const { return new VString(*this); }

  // --- Conversions -------------------------------------------------------
  // True when empty or every unit is at most 255.
  bool isNarrow() const;
  // The low byte of every unit; throws Error "VString: Narrowing unicode
  // string.\n" when not isNarrow().
  std::string narrow() const;
  // narrow() kept in the object's cache; valid until the object is changed
  // or destroyed. Throws like narrow().
  const char* asChar() const;
  // Conversion to the current C locale's multibyte encoding; throws Error
  // when a unit cannot be represented.
  std::string multibyte() const;
  // The UTF-16 text.
  std::u16string wString() const { return text_; }
  const std::u16string& wide() const { return text_; }
  const char16_t* c_str() const { return text_.c_str(); }
  // The text as wchar_t (each unit widened; surrogates are not combined).
  std::wstring toWString() const;

  int asInteger() const;  // atoi of the narrow text
  float asReal() const;   // atof of the narrow text
  // split(delimiters, false), then atoi / atof of each piece, in order.
  std::vector<int> asIntegerVector(const VString& delimiters) const;
  std::vector<float> asRealVector(const VString& delimiters) const;

  // --- Size and access ---------------------------------------------------
  int length() const { return static_cast<int>(text_.size()); }
  int size() const { return length(); }
  bool empty() const { return text_.empty(); }
  char16_t operator[](int pos) const { return text_[static_cast<size_t>(pos)]; }
  // Unit at `pos`; std::out_of_range when outside the text.
  char16_t at(int pos) const;

  // --- Editing and searching ---------------------------------------------
  // Appends the first `n` units of `s`, or all of it when `n` is 0 or larger
  // than its length. Appending an object to itself leaves it unchanged.
  VString& append(const VString& s, int n = 0);
  VString& append(const char16_t* s, int n = 0);
  // `s` is converted as by the `const char*` constructor; `n` counts bytes.
  VString& append(const char* s, int n = 0);
  VString& operator+=(const VString& s);
  VString& operator+=(char16_t c);

  // Positions outside the text throw std::out_of_range.
  VString& insert(int pos, const VString& s);
  VString& erase(int pos, int n = npos);  // n == -1: to the end
  VString& set(int pos, char16_t c);
  VString substr(int pos, int n = npos) const;

  // First position at or after `pos` whose unit is in `set`; -1 when none or
  // when `set` is empty.
  int findFirstOf(const VString& set, int pos = 0) const;
  int find_first_of(const char16_t* set, int pos = 0) const;
  // First position at or after `pos` where `s` occurs; -1 when none.
  int find(const VString& s, int pos = 0) const;

  // Empties the text; the argument has no effect.
  void clear(bool = false);

  // ASCII letters change case; every other unit is kept.
  VString& toUpper();
  VString& toLower();
  // Removes every unit that occurs in `set`, anywhere in the text.
  VString& stripChars(const VString& set);
  // Removes leading and trailing space, tab and line feed (not CR).
  VString& stripWhiteSpace();

  // Splits at every unit found in `delimiters`. Empty pieces are kept: "a,,b"
  // gives "a", "", "b"; the empty text gives one empty piece. With
  // `keepDelimiters` each piece but the last ends with its delimiter.
  std::vector<VString> split(const VString& delimiters,
                              bool keepDelimiters = false) const;
  // The object becomes parts[0] + separator + ... + parts[n-1].
  VString& join(const std::vector<VString>& parts, const VString& separator);

  // Unit-wise comparison.
  friend bool operator==(const VString& a, const VString& b) { return a.text_ == b.text_; }
  friend bool operator!=(const VString& a, const VString& b) { return a.text_ != b.text_; }
  friend bool operator<(const VString& a, const VString& b) { return a.text_ < b.text_; }
  friend bool operator>(const VString& a, const VString& b) { return b.text_ < a.text_; }
  friend bool operator<=(const VString& a, const VString& b) { return !(b.text_ < a.text_); }
  friend bool operator>=(const VString& a, const VString& b) { return !(a.text_ < b.text_); }

 private:
  enum : unsigned char { kStale, kFilling, kReady };
  void textChanged() { narrowState_.store(kStale, std::memory_order_relaxed); }
  void setNarrow(std::string narrow);
  bool narrowReady() const { return narrowState_.load(std::memory_order_acquire) == kReady; }

  std::u16string text_;
  // Narrow form of text_, meaningful only while narrowState_ is kReady. A
  // const asChar() fills it under the kFilling state, so that concurrent
  // readers of one object never write it twice.
  mutable std::string narrow_;
  mutable std::atomic<unsigned char> narrowState_{kStale};
};

VString operator+(const VString& a, const VString& b);

// Writes narrow(); throws Error for text that is not narrow.
std::ostream& operator<<(std::ostream& os, const VString& s);
// Writes the wide text.
std::wostream& operator<<(std::wostream& os, const VString& s);

// printf-style formatting; the result is converted as 8-bit text.
VString formatVStr(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Escapes in place, for embedding in a quoted script literal: LF, TAB, CR
// become \n, \t, \r; a backslash is doubled; '^' becomes '.'. Returns `s`.
VString& pythonEscape(VString& s);

}  // namespace tvan

namespace std {
template <>
struct hash<tvan::VString> {
  size_t operator()(const tvan::VString& s) const noexcept {
    return hash<u16string>()(s.wide());
  }
};
}  // namespace std
