#include "common/error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

namespace qev {
namespace {

TEST(CodeNames, AreShortLowercaseAndEachItsOwn) {
  std::set<std::string_view> names;
  for (int n = 0; n <= static_cast<int>(lastCode); ++n) {
    std::string_view name = codeName(static_cast<Code>(n));
    SCOPED_TRACE(name);
    EXPECT_TRUE(names.insert(name).second) << "named twice";
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 20u);
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), std::string_view::npos);
  }
  // Callers compare these texts: they never change.
  EXPECT_EQ(codeName(Code::usage), "usage");
  EXPECT_EQ(codeName(Code::feederEmpty), "feeder_empty");
  EXPECT_EQ(codeName(Code::writeFailed), "write_failed");
}

// Callers learn the codes from the event schema (and the manual page and README, which
// tests/schema_test.py holds to it): it lists exactly the codes qev writes, in their order.
TEST(CodeNames, AreTheListTheEventSchemaDocuments) {
  std::ifstream file(QEV_SOURCE_DIR "/docs/events.schema.json");
  auto schema = nlohmann::json::parse(file);
  std::vector<std::string> documented;
  for (const auto& branch : schema["$defs"]["error"]["oneOf"]) {
    documented.push_back(branch["properties"]["code"]["const"]);
  }
  std::vector<std::string> written;
  for (int n = 0; n <= static_cast<int>(lastCode); ++n) {
    written.emplace_back(codeName(static_cast<Code>(n)));
  }
  EXPECT_EQ(written, documented);
}

TEST(SystemError, GivesTheTextAndTheCodeOfAFullDiskOnly) {
  struct {
    int value;
    const char* description;
    std::optional<Code> code;
  } cases[] = {
      {ENOSPC, "No space left on device", Code::diskFull},
      {EDQUOT, "Disk quota exceeded", Code::diskFull},
      {EACCES, "Permission denied", std::nullopt},
      {EROFS, "Read-only file system", std::nullopt},
      {EIO, "Input/output error", std::nullopt},
      {ENOMEM, "Cannot allocate memory", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    Error error = systemError(c.value);
    EXPECT_EQ(error.description, c.description);
    EXPECT_EQ(error.code, c.code);
  }
}

}  // namespace
}  // namespace qev
