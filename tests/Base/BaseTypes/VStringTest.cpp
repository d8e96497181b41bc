#include <gtest/gtest.h>

#include <clocale>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/FormatStr.h"
#include "Base/BaseTypes/VString.h"

using tvan::VString;

namespace {

std::string joined(const std::vector<VString>& pieces) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) out += (i ? "|" : "") + pieces[i].narrow();
  return out;
}

}  // namespace

TEST(VString, EveryByteRoundTripsAsLatin1) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  VString s(bytes);
  ASSERT_EQ(s.length(), 256);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(s[b], static_cast<char16_t>(b));
  EXPECT_TRUE(s.isNarrow());
  EXPECT_EQ(s.narrow(), bytes);
  // Built from wide text, the narrow form is computed rather than cached.
  VString wide(s.wide());
  EXPECT_EQ(std::string(wide.asChar(), 256), bytes);
  EXPECT_EQ(VString().assign("\xe9\xff", 2).wide(), u"\u00e9\u00ff");
}

TEST(VString, NarrowingRefusesUnitsAbove255) {
  VString s(u"a\u0100b");
  EXPECT_FALSE(s.isNarrow());
  try {
    s.narrow();
    FAIL() << "narrow() accepted U+0100";
  } catch (const tvan::Error& e) {
    EXPECT_STREQ(e.keystring(), "VString: Narrowing unicode string.\n");
    EXPECT_TRUE(e.isValid());
  }
  EXPECT_THROW(s.asChar(), tvan::Error);
  EXPECT_THROW(s.asChar(), tvan::Error);  // a failed attempt caches nothing
  std::ostringstream narrowStream;
  EXPECT_THROW(narrowStream << s, tvan::Error);
  std::wostringstream wideStream;
  wideStream << s;
  EXPECT_EQ(wideStream.str(), L"a\u0100b");
  EXPECT_THROW(s.multibyte(), tvan::Error);  // the C locale has no U+0100
  s.set(1, u'x');
  EXPECT_STREQ(s.asChar(), "axb");
}

TEST(VString, StreamsAndMultibyteKeepTheWholeText) {
  std::ostringstream narrowStream;
  narrowStream << VString(std::string("a\0b", 3));
  EXPECT_EQ(narrowStream.str(), std::string("a\0b", 3));
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no UTF-8 locale";
  // A surrogate pair is one character of the locale's encoding.
  const std::string grin = VString(u"x\U0001F600").multibyte();
  const std::string eAcute = VString(u"\u00e9").multibyte();
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ(grin, "x\xF0\x9F\x98\x80");
  EXPECT_EQ(eAcute, "\xC3\xA9");
}

TEST(VString, NarrowCacheFollowsEveryChange) {
  VString s("abc");
  std::string seen = s.asChar();
  seen += std::string("|") + s.append("de").asChar();
  seen += std::string("|") + s.toUpper().asChar();
  seen += std::string("|") + s.erase(1, 2).asChar();
  seen += std::string("|") + s.insert(0, VString("x")).asChar();
  EXPECT_EQ(seen, "abc|abcde|ABCDE|ADE|xADE");
  VString copy = s;
  copy.set(0, u'y');
  EXPECT_STREQ(s.asChar(), "xADE");
  EXPECT_STREQ(copy.asChar(), "yADE");
  VString moved = std::move(copy);
  EXPECT_STREQ(moved.asChar(), "yADE");
  s.clear(true);
  EXPECT_STREQ(s.asChar(), "");
}

TEST(VString, ConcurrentAsCharOnSharedTextAgrees) {
  const VString shared(u"shared name of a mutex");
  std::vector<std::thread> threads;
  std::vector<std::string> seen(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, &seen, t] { seen[t] = shared.asChar(); });
  }
  for (auto& th : threads) th.join();
  for (const auto& text : seen) EXPECT_EQ(text, "shared name of a mutex");
}

TEST(VString, NumbersFormatLikePrintf) {
  EXPECT_EQ(VString(true) + VString(false) + VString(" ") + VString(-42) + VString(" ") +
                VString(0.25f) + VString(" ") + VString(4000000000UL) + VString(u'Z'),
            VString("10 -42 0.250000 4000000000Z"));
  EXPECT_EQ(VString(" 17x").asInteger(), 17);
  EXPECT_FLOAT_EQ(VString("2.5").asReal(), 2.5f);
  EXPECT_EQ(VString("1,2,,3").asIntegerVector(VString(",")), (std::vector<int>{1, 2, 0, 3}));
  EXPECT_EQ(VString("0.5;1").asRealVector(VString(";")), (std::vector<float>{0.5f, 1.0f}));
}

TEST(VString, AppendTakesPrefixOrAll) {
  VString s("ab");
  s.append(VString("xyz"), 2);
  EXPECT_EQ(s, VString("abxy"));
  s.append(VString("12"), 0);
  s.append(VString("34"), 9);
  EXPECT_EQ(s, VString("abxy1234"));
  s.append(s, 0);
  EXPECT_EQ(s, VString("abxy1234"));
  s.append(u"uvw", 1);
  s.append("\xe9t\xe9", 2);
  EXPECT_EQ(s.wide(), u"abxy1234u\u00e9t");
  VString twice("ab");
  twice += twice;
  EXPECT_EQ(twice, VString("abab"));
  EXPECT_EQ(VString("a") + VString(u"\u0100"), VString(u"a\u0100"));
}

TEST(VString, PositionsOutOfRangeThrowRangeErrors) {
  VString s("abc");
  EXPECT_THROW(s.substr(4, 1), std::out_of_range);
  EXPECT_THROW(s.insert(4, VString("x")), std::out_of_range);
  EXPECT_THROW(s.erase(-1, 1), std::out_of_range);
  EXPECT_THROW(s.set(3, u'x'), std::out_of_range);
  EXPECT_EQ(s.substr(1, 10), VString("bc"));
  EXPECT_EQ(s.substr(3, 1), VString(""));
}

TEST(VString, SearchFindsFirstUnitOfSet) {
  VString s("key=value;x");
  EXPECT_EQ(s.findFirstOf(VString("=;")), 3);
  EXPECT_EQ(s.findFirstOf(VString("=;"), 4), 9);
  EXPECT_EQ(s.findFirstOf(VString("=;"), 10), -1);
  EXPECT_EQ(s.findFirstOf(VString("")), -1);
  EXPECT_EQ(s.find_first_of(u"x"), 10);
  EXPECT_EQ(s.find(VString("val")), 4);
  EXPECT_EQ(s.find(VString("nope")), VString::npos);
}

TEST(VString, SplitKeepsEmptyPieces) {
  // {text, separators, pieces joined with |}
  const char* const cases[][3] = {{"a,,b", ",", "a||b"},      {"a,", ",", "a|"},
                                  {",a", ",", "|a"},          {"", ",", ""},
                                  {"a b\tc", " \t", "a|b|c"}, {"abc", "", "abc"}};
  for (const auto& c : cases) {
    EXPECT_EQ(joined(VString(c[0]).split(VString(c[1]))), c[2]) << c[0];
  }
  EXPECT_EQ(VString("").split(VString(",")).size(), 1u);
  EXPECT_EQ(joined(VString("a;b").split(VString(";"), true)), "a;|b");
}

TEST(VString, JoinIsInverseOfSplit) {
  VString joined("old");
  joined.join({}, VString(","));
  EXPECT_EQ(joined, VString(""));
  const VString text("a,,b,");
  joined.join(text.split(VString(",")), VString(","));
  EXPECT_EQ(joined, text);
}

TEST(VString, StrippingAndCase) {
  EXPECT_EQ(VString(" \tx\r\n").stripWhiteSpace(), VString("x\r"));
  EXPECT_EQ(VString(" \t\n").stripWhiteSpace(), VString(""));
  EXPECT_EQ(VString("a-b_c-").stripChars(VString("-_")), VString("abc"));
  EXPECT_EQ(VString("Mixed \xe9").toUpper(), VString("MIXED \xe9"));
  EXPECT_EQ(VString("MiXeD \xc9").toLower(), VString("mixed \xc9"));
}

TEST(VString, PythonEscapeReplacesEachUnitOnce) {
  VString s("a\nb\tc\rd\\e^f");
  EXPECT_EQ(tvan::pythonEscape(s), VString("a\\nb\\tc\\rd\\\\e.f"));
  VString backslashes("\\\\");
  EXPECT_EQ(tvan::pythonEscape(backslashes), VString("\\\\\\\\"));
}

TEST(VString, FormattingSizesToFit) {
  std::string hundred(100, 'x');
  EXPECT_EQ(tvan::formatVStr("%s", hundred.c_str()), VString(hundred));
  std::string big(5000, 'y');
  EXPECT_EQ(tvan::formatStr("[%s|%d]", big.c_str(), 7), "[" + big + "|7]");
  EXPECT_EQ(tvan::formatStr("%s", ""), "");
  EXPECT_EQ(tvan::formatVStr("%c", 0xe9).wide(), u"\u00e9");
  std::string exact(255, 'z');  // exactly fills the first buffer
  EXPECT_EQ(tvan::formatStr("%s", exact.c_str()), exact);
}
