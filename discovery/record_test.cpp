#include "discovery/record.h"

#include <gtest/gtest.h>

#include "testing/fake_scanner.h"

namespace qev {
namespace {

TEST(Record, IdentifierAndRecordFollowWhatTheScannerReports) {
  using Texts = std::optional<std::string>;
  struct {
    const char* name;
    Texts uuid, deviceName, transport;
    std::vector<UnitType> units;
    Event record;
  } cases[] = {
      {"uuid and name",
       "5A1E-01",
       "Office",
       "usb",
       {flatbedUnit, feederUnit},
       {{"event", "device"},
        {"id", "5A1E-01"},
        {"name", "Office"},
        {"transport", "usb"},
        {"feeder", true},
        {"flatbed", true}}},
      {"an empty uuid still hides the name",
       "",
       "Office",
       "net",
       {feederUnit},
       {{"event", "device"},
        {"id", ""},
        {"name", "Office"},
        {"transport", "net"},
        {"feeder", true},
        {"flatbed", false}}},
      {"no uuid: the name",
       std::nullopt,
       "Office",
       std::nullopt,
       {flatbedUnit},
       {{"event", "device"},
        {"id", "Office"},
        {"name", "Office"},
        {"transport", ""},
        {"feeder", false},
        {"flatbed", true}}},
      {"neither",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       {},
       {{"event", "device"},
        {"id", ""},
        {"name", "Scanner"},
        {"transport", ""},
        {"feeder", false},
        {"flatbed", false}}},
      {"an empty name is a name",
       std::nullopt,
       "",
       "",
       {UnitType{7}, UnitType{1}},
       {{"event", "device"},
        {"id", ""},
        {"name", ""},
        {"transport", ""},
        {"feeder", false},
        {"flatbed", false}}},
  };
  RunLoop loop;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Device scanner(loop);
    scanner.uuidText = c.uuid;
    scanner.nameText = c.deviceName;
    scanner.transportText = c.transport;
    scanner.units = c.units;
    EXPECT_EQ(identifier(scanner), std::get<std::string>(c.record[1].second));
    EXPECT_EQ(describe(scanner), c.record);
  }
}

TEST(Record, IsReadAfreshAtEachCall) {
  RunLoop loop;
  fake::Device scanner(loop);
  scanner.nameText = "Before";
  EXPECT_EQ(identifier(scanner), "Before");
  scanner.nameText = "After";
  scanner.units = {feederUnit};
  Event record = describe(scanner);
  EXPECT_EQ(record[1].second, Value("After"));
  EXPECT_EQ(record[4].second, Value(true));
}

}  // namespace
}  // namespace qev
