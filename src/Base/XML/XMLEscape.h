#pragma once
// Conversion between plain text and the five XML entity references
// (&amp; &lt; &gt; &quot; &apos;), in place.
#include <string>

// "<" ">" "\"" "'" become references; an "&" that already begins one of the
// five references is left alone, any other "&" becomes "&amp;". So escaping
// a text that already holds "&amp;" does not double it.
void escapeChars(std::string& text);

// Each of the five references becomes its character, scanning left to right
// once ("&amp;lt;" gives "&lt;"). Numeric and other references stay as they
// are.
void unescapeChars(std::string& text);

// Appends `text` escaped as by `escapeChars` to `out`.
void appendEscaped(std::string& out, const std::string& text);

namespace tvan {
using ::appendEscaped;
using ::escapeChars;
using ::unescapeChars;
}  // namespace tvan
