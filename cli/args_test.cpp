#include "cli/args.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace qev {
namespace {

void given(std::vector<std::string_view> all) { setArgs(all); }

// Switches to a German locale (decimal comma), compiling one into a private folder when the
// system has none.
bool useGermanLocale() {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) return true;
  std::string folder = ::testing::TempDir() + "qev-locale";
  std::string command = "mkdir -p " + folder + " && localedef -i de_DE -f UTF-8 " + folder +
                        "/de_DE.utf8 >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return false;
  setenv("LOCPATH", folder.c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(Arg, TakesTheArgumentAfterTheFirstOccurrence) {
  struct {
    std::vector<std::string_view> args;
    std::string_view name;
    std::optional<std::string> value;
  } cases[] = {
      {{"qev", "scan", "--dpi", "600"}, "--dpi", "600"},
      {{"qev", "scan", "--dpi", "600", "--dpi", "150"}, "--dpi", "600"},
      {{"qev", "scan", "--source", "--dpi", "600"}, "--source", "--dpi"},
      {{"qev", "scan", "--source", "--dpi", "600"}, "--dpi", "600"},
      {{"qev", "scan", "--device", "--out"}, "--device", "--out"},
      {{"qev", "scan", "--device", "--out"}, "--out", std::nullopt},
      {{"qev", "simulate", "--out", ""}, "--out", ""},
      {{"qev", "simulate"}, "--out", std::nullopt},
      {{"--out", "simulate"}, "--out", "simulate"},
      {{"qev", "--out"}, "--out", std::nullopt},
      {{}, "--out", std::nullopt},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (auto a : c.args) (shown += std::string(a)) += ' ';
    SCOPED_TRACE(shown + "-> " + std::string(c.name));
    given(c.args);
    EXPECT_EQ(arg(c.name), c.value);
  }
}

TEST(Has, CountsPresenceAnywhere) {
  given({"qev", "scan", "--dpi", "--duplex", "no"});
  EXPECT_TRUE(has("--duplex"));
  EXPECT_TRUE(has("qev"));
  EXPECT_FALSE(has("--source"));
  EXPECT_FALSE(has("--dup"));
}

TEST(Args, InvalidUtf8BecomesReplacementCharacters) {
  given({"qev", "simulate", "--out",
         "a\xFF"
         "b"});
  EXPECT_EQ(arg("--out"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(ParseInt, AcceptsExactlySignedDecimalWithinSixtyFourBits) {
  struct {
    std::string_view text;
    std::optional<std::int64_t> value;
  } cases[] = {
      {"600", 600},
      {"+7", 7},
      {"-5", -5},
      {"007", 7},
      {"-0", 0},
      {"0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-1", std::nullopt},
      {"--1", std::nullopt},
      {" 600", std::nullopt},
      {"600 ", std::nullopt},
      {"600dpi", std::nullopt},
      {"6e2", std::nullopt},
      {"6.0", std::nullopt},
      {"1,000", std::nullopt},
      {"0x10", std::nullopt},
      {"abc", std::nullopt},
      {"\xD9\xA3", std::nullopt},  // ARABIC-INDIC DIGIT THREE
      {std::string_view("1\0", 2), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parseInt(c.text), c.value);
  }
}

TEST(ParseFloat, TakesTheWholeTextInTheCLocale) {
  struct {
    std::string_view text;
    std::optional<double> value;
  } cases[] = {
      {"0.5", 0.5},
      {"4", 4.0},
      {"-1", -1.0},
      {"+2.25", 2.25},
      {".5", 0.5},
      {"1e1", 10.0},
      {"0", 0.0},
      {"", std::nullopt},
      {" 1", std::nullopt},
      {"\t1", std::nullopt},
      {"\n1", std::nullopt},
      {"1 ", std::nullopt},
      {"1,5", std::nullopt},
      {"5s", std::nullopt},
      {"abc", std::nullopt},
      {std::string_view("1\0", 2), std::nullopt},
  };
  // A user locale with a decimal comma must change nothing.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  std::string saved = previous ? previous : "C";
  ASSERT_TRUE(useGermanLocale());
  ASSERT_EQ(std::strtod("1.5", nullptr), 1.0) << "the German locale is not in effect";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parseFloat(c.text), c.value);
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(ParseFloat, WordsForInfinityAndNotANumberParse) {
  // They parse; the `--wait` reader turns values that are not finite into its default.
  EXPECT_TRUE(std::isinf(*parseFloat("inf")));
  EXPECT_TRUE(std::isnan(*parseFloat("nan")));
  EXPECT_TRUE(std::isinf(*parseFloat("1e999")));
}

}  // namespace
}  // namespace qev
