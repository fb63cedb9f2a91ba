#include "cli/event.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "testing/capture.h"

namespace qev {
namespace {

TEST(Quote, EscapesAsTheStreamRequires) {
  struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"/tmp/a.jpg", R"("\/tmp\/a.jpg")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"back\\slash", R"("back\\slash")"},
      {"line\nfeed\ttab\rret\bback\fform", R"("line\nfeed\ttab\rret\bback\fform")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"\x1f\x7f", "\"\\u001f\x7f\""},
      {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84",
       "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84\""},
      {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
      {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"overlong\xC0\xAF", "\"overlong\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"surrogate\xED\xA0\x80", "\"surrogate\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(quote(c.text), c.json);
    EXPECT_TRUE(nlohmann::json::accept(c.json));
  }
}

TEST(Line, IsOneCompactObjectAndOneLineFeed) {
  std::string text =
      line({{"event", "page"}, {"file", "/tmp/out/QEV_1.jpg"}, {"n", std::int64_t{3}}});
  EXPECT_EQ(text, R"({"event":"page","file":"\/tmp\/out\/QEV_1.jpg","n":3})"
                  "\n");
}

TEST(Line, ValuesKeepTheirKinds) {
  struct {
    Event event;
    nlohmann::json expected;
  } cases[] = {
      {{{"event", "done"}}, {{"event", "done"}}},
      {{{"event", "device"}, {"feeder", true}, {"flatbed", false}},
       {{"event", "device"}, {"feeder", true}, {"flatbed", false}}},
      {{{"n", std::int64_t{-9223372036854775807 - 1}}}, {{"n", INT64_MIN}}},
      {{{"n", std::int64_t{9223372036854775807}}}, {{"n", INT64_MAX}}},
      {{{"name", "two\nlines \"q\" \\ /"}}, {{"name", "two\nlines \"q\" \\ /"}}},
      {{{"width_mm", Tenths{2159}}}, {{"width_mm", 215.9}}},
      {{{"dpi", std::vector<std::int64_t>{75, 150, 300}}},
       {{"dpi", std::vector<std::int64_t>{75, 150, 300}}}},
      {{{"dpi", std::vector<std::int64_t>{}}}, {{"dpi", nlohmann::json::array()}}},
  };
  for (const auto& c : cases) {
    std::string text = line(c.event);
    SCOPED_TRACE(text);
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    EXPECT_EQ(text.find(' ') == std::string::npos,
              c.expected.dump().find(' ') == std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(text), c.expected);
  }
}

TEST(Line, WritesTenthsWithOneDecimalAndListsCompact) {
  struct {
    Value value;
    std::string text;
  } cases[] = {
      {Tenths{2159}, "215.9"},
      {Tenths{2000}, "200.0"},
      {Tenths{5}, "0.5"},
      {Tenths{0}, "0.0"},
      {Tenths{-5}, "-0.5"},
      {Tenths{-9223372036854775807 - 1}, "-922337203685477580.8"},
      {Tenths{9223372036854775807}, "922337203685477580.7"},
      {std::vector<std::int64_t>{75, 150, 300, 600, 1200}, "[75,150,300,600,1200]"},
      {std::vector<std::int64_t>{-1}, "[-1]"},
      {std::vector<std::int64_t>{}, "[]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(line({{"v", c.value}}), "{\"v\":" + c.text + "}\n");
  }
}

TEST(Fail, WritesTheErrorLineWithItsCodeThenEndsWithStatusOne) {
  struct {
    const char* name;
    std::function<void()> fails;
    std::string line;
  } cases[] = {
      {"a code and a message", [] { fail(Code::usage, "Use list, scan or simulate."); },
       R"({"event":"error","code":"usage","message":"Use list, scan or simulate."})"},
      {"a cause with a code of its own",
       [] {
         fail(Code::ioError, "The scan stopped: ", Error{"Document feeder jammed", Code::jammed});
       },
       R"({"event":"error","code":"jammed","message":"The scan stopped: Document feeder jammed"})"},
      {"a cause without one takes the given code",
       [] { fail(Code::openFailed, "The scanner did not open: ", Error{"Invalid argument"}); },
       R"({"event":"error","code":"open_failed","message":"The scanner did not open: Invalid argument"})"},
      {"an empty description", [] { fail(Code::ioError, "The scan stopped: ", Error{}); },
       R"({"event":"error","code":"io_error","message":"The scan stopped: "})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::Capture capture;
    EXPECT_EQ(qevtest::Capture::endOf(c.fails), 1);
    EXPECT_EQ(capture.lines, std::vector<std::string>{c.line + "\n"});
  }
}

}  // namespace
}  // namespace qev
