#include "platform/client/naming.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(Naming, TransportAndNameOfADevice) {
  struct Case {
    wire::DeviceInfo info;
    std::string transport;
    std::optional<std::string> name;
  } cases[] = {
      {{.name = "test:0", .vendor = "Noname", .model = "frontend-tester", .type = "virtual device"},
       "virtual",
       "Noname frontend-tester"},
      {{.name = "net:127.0.0.1:test:0",
        .vendor = "Noname",
        .model = "frontend-tester",
        .type = "virtual device"},
       "network",
       "Noname frontend-tester"},
      {{.name = "airscan:e0:Kyocera", .vendor = " Kyocera ", .model = "", .type = ""},
       "network",
       "Kyocera"},
      {{.name = "genesys:libusb:001:004",
        .vendor = "Canon",
        .model = "LiDE 220",
        .type = "flatbed scanner"},
       "usb",
       "Canon LiDE 220"},
      {{.name = "umax:/dev/sg3", .vendor = "", .model = "", .type = "flatbed scanner"},
       "scsi",
       std::nullopt},
      {{.name = "odd", .vendor = "Bad\xff", .model = "", .type = ""}, "", "Bad\xef\xbf\xbd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info.name);
    EXPECT_EQ(transportOf(c.info), c.transport);
    EXPECT_EQ(nameOf(c.info), c.name);
  }
}

}  // namespace
}  // namespace qev
