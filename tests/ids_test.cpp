// Scanner ids through the real binary. A USB device whose bus and device numbers match no
// entry of this machine's /sys keeps its SANE name as id, and scans by it.

#include <gtest/gtest.h>

#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

TEST(Ids, AUsbNameThatSysfsDoesNotKnowStaysTheId) {
  qevtest::FaultConfig config(
      "[device]\nname = libusb:001:004\ntype = sheetfed scanner\nsize = 40 30\npages = 2\n");
  auto list = qevtest::qev({"list", "--wait", "1"}, config.options());
  EXPECT_EQ(list.status, 0);
  ASSERT_EQ(list.events.size(), 2u) << list.out;
  EXPECT_EQ(list.events[0]["id"], "fault:libusb:001:004");
  EXPECT_EQ(list.events[0]["transport"], "usb");

  qevtest::TempDir out;
  auto scan = qevtest::qev({"scan", "--device", "fault:libusb:001:004", "--out", out.path()},
                           config.options());
  EXPECT_EQ(scan.status, 0) << scan.out;
  EXPECT_EQ(scan.events.back(), (nlohmann::json{{"event", "done"}, {"pages", 2}}));
}

}  // namespace
