#include "host/habits.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(Habits, TheBackendIsTheNamesFirstPart) {
  EXPECT_EQ(backendOf("genesys:libusb:001:004"), "genesys");
  EXPECT_EQ(backendOf("net:127.0.0.1:test:0"), "net");
  EXPECT_EQ(backendOf("odd"), "odd");
}

TEST(Habits, EachFeedersWayOfSayingItIsEmptyEndsTheBatch) {
  struct Case {
    const char* backend;
    Stage stage;
    SANE_Status status;
    Ending ending;
  } cases[] = {
      {"fujitsu", Stage::start, SANE_STATUS_NO_DOCS, Ending::ends},
      {"pixma", Stage::firstRead, SANE_STATUS_NO_DOCS, Ending::ends},
      {"kodakaio", Stage::start, SANE_STATUS_CANCELLED, Ending::ends},
      {"genesys", Stage::start, SANE_STATUS_IO_ERROR, Ending::endsIfListed},
      // The same statuses elsewhere are failures.
      {"fujitsu", Stage::start, SANE_STATUS_CANCELLED, Ending::fails},
      {"fujitsu", Stage::start, SANE_STATUS_IO_ERROR, Ending::fails},
      {"genesys", Stage::firstRead, SANE_STATUS_IO_ERROR, Ending::fails},
      {"kodakaio", Stage::firstRead, SANE_STATUS_CANCELLED, Ending::fails},
      {"net", Stage::start, SANE_STATUS_IO_ERROR, Ending::fails},
      {"epson2", Stage::start, SANE_STATUS_JAMMED, Ending::fails},
      {"epson2", Stage::firstRead, SANE_STATUS_COVER_OPEN, Ending::fails},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.backend) + " " + sane_strstatus(c.status) +
                 (c.stage == Stage::start ? " at start" : " at the first read"));
    EXPECT_EQ(feederEnding(c.backend, c.stage, c.status), c.ending);
  }
}

TEST(Habits, OnlyADeadNetConnectionIsDeclaredLostQuickly) {
  using namespace std::chrono_literals;
  EXPECT_LE(silenceLimit("net"), 2s);
  // The warm-ups of avision (90 s), hp5590 (90 s) and genesys (65 s and calibration).
  for (const char* backend : {"avision", "hp5590", "genesys", "fujitsu", "fault"}) {
    SCOPED_TRACE(backend);
    EXPECT_GE(silenceLimit(backend), 120s);
  }
  EXPECT_EQ(emptyReadPause(1), 1ms);
  EXPECT_EQ(emptyReadPause(2), 2ms);
  EXPECT_EQ(emptyReadPause(1000), 4ms);
}

TEST(Habits, OnlyGenesysFeedsSheetsFromAFlatbedSource) {
  EXPECT_TRUE(sheetsOnFlatbed("genesys"));
  EXPECT_FALSE(sheetsOnFlatbed("plustek"));
  EXPECT_FALSE(sheetsOnFlatbed("test"));
}

// Opening a device claims it, and some backends move or wait for the hardware when opened.
TEST(Habits, ListingOpensOnlyBackendsWhoseOpenIsHarmless) {
  struct Case {
    const char* device;
    bool probe;
  } cases[] = {
      {"test:0", true},
      {"fujitsu:fi-7160:12345", true},
      {"canon_dr:libusb:001:004", true},
      {"xerox_mfp:libusb:001:005", true},
      {"kodakaio:net:192.0.2.4", true},
      {"escl:https://192.0.2.5:443", true},
      {"airscan:e0:Office", true},
      {"pixma:04A91912_ABC", true},
      {"genesys:libusb:001:004", false},
      {"plustek:libusb:001:006", false},
      {"avision:libusb:001:007", false},  // film scanners calibrate and move home
      {"hp5590:libusb:001:008", false},
      {"epson2:net:192.0.2.6", false},
      {"epsonds:libusb:001:009", false},
      {"net:127.0.0.1:test:0", false},
      {"hpaio:/usb/Officejet?serial=1", false},
      {"brother3:bus1;dev1", false},
      {"unknown:device", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    EXPECT_EQ(probeSafe(c.device), c.probe);
  }
}

}  // namespace
}  // namespace qev
