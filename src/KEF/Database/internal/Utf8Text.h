#pragma once
// Texts as PostgreSQL takes them: the server refuses a text that is not
// valid in its encoding, and any text with a NUL. The library's texts are
// derived from message records, which may hold any byte; the record itself
// is stored as bytes, so only the derived texts pass through here.
#include <string>

namespace tvan {
namespace dbinternal {

// `text` with each NUL, and each byte that does not belong to a valid UTF-8
// sequence (overlong forms, surrogates and code points past U+10FFFF
// included), replaced by U+FFFD. Valid UTF-8 without NUL comes back
// unchanged.
std::string validUtf8(const std::string& text);

}  // namespace dbinternal
}  // namespace tvan
