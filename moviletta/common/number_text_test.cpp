// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "moviletta/common/error.h"
#include "moviletta/common/variant.h"

namespace moviletta {
namespace {

int32_t ErrorOf(auto&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(TextToLong, ReadsBlanksSignsAndRoundsHalvesToEven) {
  const std::pair<const char*, int32_t> cases[] = {
      {"15", 15},
      {"  15  ", 15},
      {"\n\t42\r\n", 42},
      {"-7", -7},
      {"+3", 3},
      {"0.5", 0},
      {"1.5", 2},
      {"2.5", 2},
      {"3.5", 4},
      {"-2.5", -2},
      {"2.51", 3},
      {"2.4999", 2},
      {".5", 0},
      {"7.", 7},
      {"007", 7},
      {"2.500000000000000001", 3},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-2147483648.5", INT32_MIN},
      {"2147483646.5", 2147483646},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(TextToLong(text), expected) << text;
}

TEST(TextToLong, RefusesAnythingElse) {
  for (const char* text : {"", "   ", "abc", "1e3", "1,000", "0x10", "--1", "1 2", ".", "+", "5-",
                           "1.2.3", "\xef\xbc\x91"})
    EXPECT_EQ(ErrorOf([&] { TextToLong(text); }), err::kTypeMismatch) << text;
  for (const char* text : {"2147483648", "-2147483649", "2147483647.5", "99999999999999999999999"})
    EXPECT_EQ(ErrorOf([&] { TextToLong(text); }), err::kOverflow) << text;
}

TEST(TextToDouble, TooSmallToHoldIsZeroAndTooLargeIsAnOverflow) {
  const std::string tiny = "." + std::string(400, '0') + "1";
  EXPECT_EQ(TextToDouble(tiny), 0.0);
  EXPECT_EQ(TextToDouble("-" + tiny), 0.0);
  EXPECT_EQ(TextToLong(tiny), 0);
  EXPECT_EQ(TextToDouble("0.25"), 0.25);
  EXPECT_EQ(ErrorOf([] { TextToDouble("1" + std::string(400, '0')); }), err::kOverflow);
}

TEST(DoubleToText, PlainDecimalsInTheEverydayRangeAndEveryTextReadsBack) {
  EXPECT_EQ(DoubleToText(100000.0), "100000");
  EXPECT_EQ(DoubleToText(0.0001), "0.0001");
  EXPECT_EQ(DoubleToText(-2.5), "-2.5");
  EXPECT_EQ(DoubleToText(123456789012345.0), "123456789012345");
  EXPECT_EQ(DoubleToText(1e300), "1e+300");
  EXPECT_EQ(TextToDouble(" 1.5E3 "), 1500.0);
  EXPECT_EQ(ErrorOf([] { TextToDouble("1e"); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { TextToDouble("1e+999"); }), err::kOverflow);
  EXPECT_EQ(TextToDouble("1e-999"), 0.0) << "too small to hold";
  EXPECT_EQ(TextToDouble("0.0001e-99999999999999999999"), 0.0);
  for (const double value : {0.0, -0.0, 1e-5, 0.1, 1e15, 1e300, 1e-300, 5e-324,
                             -1.7976931348623157e308, 123.456, 2.0 / 3})
    EXPECT_EQ(TextToDouble(DoubleToText(value)), value) << DoubleToText(value);
  EXPECT_TRUE(std::signbit(TextToDouble(DoubleToText(-0.0))));
}

TEST(RoundToLong, HalvesToEvenAndRangeChecked) {
  EXPECT_EQ(RoundToLong(12.5), 12);
  EXPECT_EQ(RoundToLong(37.5), 38);
  EXPECT_EQ(RoundToLong(-0.5), 0);
  EXPECT_EQ(ErrorOf([] { RoundToLong(2147483647.5); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToLong(std::nan("")); }), err::kOverflow);
}

TEST(Variant, ConvertsLikeTheScriptingPlatform) {
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_EQ(Variant(0.25).ToText(), "0.25");
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_TRUE(Variant("true").ToBoolean());
  EXPECT_FALSE(Variant("FALSE").ToBoolean());
  EXPECT_TRUE(Variant("-1").ToBoolean());
  EXPECT_FALSE(Variant(" 0 ").ToBoolean());
  EXPECT_EQ(Variant(" 2.5 ").ToLong(), 2);
  EXPECT_DOUBLE_EQ(Variant("0.125").ToDouble(), 0.125);
  EXPECT_EQ(ErrorOf([] { Variant("maybe").ToBoolean(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("x").ToDouble(); }), err::kTypeMismatch);
}

}  // namespace
}  // namespace moviletta
