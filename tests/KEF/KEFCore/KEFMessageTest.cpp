#include "KEF/KEFCore/KEFMessage.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>

#include "KEF/KEFCore/TQSafetyCheck.h"

namespace {

TEST(KEFMessage, RecordLayoutAndSizes) {
  const std::string longType(200, 't');
  KEFMessage message(longType, "svc|host|1.5", "KEF", "0123456789", nullptr);
  const KEF_MESSAGE* record = message.getMessagePtr();
  const char* bytes = reinterpret_cast<const char*>(record);
  EXPECT_EQ(std::string(bytes), std::string(149, 't'));
  EXPECT_EQ(std::string(bytes + 150), "svc|host|1.5");
  EXPECT_EQ(std::string(bytes + 300), "KEF");
  int32_t length = 0;
  std::memcpy(&length, bytes + 452, sizeof length);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(std::string(bytes + 456), "0123456789");
  EXPECT_EQ(bytes[466], '\0');
  EXPECT_EQ(message.getMessageSize(), 471u);

  KEFMessage empty("Status", "S", "KEF", nullptr, nullptr);
  EXPECT_EQ(empty.getMessagePtr()->dataLength, 0);
  EXPECT_EQ(empty.getMessagePtr()->data[0], '\0');
  EXPECT_EQ(empty.getMessageSize(), 461u);
}

TEST(KEFMessage, StrcpySChecksItsArgumentsAndCutsLongTexts) {
  char field[4];
  EXPECT_EQ(vc8::strcpy_s(field, "abc"), 0);
  EXPECT_STREQ(field, "abc");
  EXPECT_EQ(vc8::strcpy_s(field, "abcdef"), ERANGE);
  EXPECT_STREQ(field, "abc");
  std::strcpy(field, "xy");
  EXPECT_EQ(vc8::strcpy_s(field, nullptr), EINVAL);
  EXPECT_STREQ(field, "xy");
}

TEST(KEFMessage, ServiceIDsAreTextsTimeAndMillisecondsWithoutLeadingZeros) {
  const std::string id = createServiceID("AUTODELETE", "host");
  EXPECT_TRUE(std::regex_match(id, std::regex(R"(AUTODELETE\|host\|[1-9][0-9]*\.(0|[1-9][0-9]{0,2}))")))
      << id;
}

TEST(KEFMessage, SendWithoutAServiceManagerFailsWithACode) {
  KEFMessage message("Status", "S", "KEF", "<x/>", nullptr);
  EXPECT_NE(message.send(nullptr, nullptr), 0);
}

}  // namespace
