// Stable identities against a fake sysfs tree in a real temporary folder, laid out as the
// kernel lays out /sys: devices under `devices/<controller>/usb<bus>/...`, and
// `bus/usb/devices/<entry>` a relative symbolic link to each device and interface.

#include "host/identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;

class Identity : public ::testing::Test {
 protected:
  Identity() { fs::create_directories(root + "/bus/usb/devices"); }

  static void put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  // The device at `devices/<path>`, linked from `bus/usb/devices` under its folder's name.
  // `serial` is the serial file's whole content; none: no file.
  void plug(const std::string& path, unsigned bus, unsigned device,
            std::optional<std::string> serial = std::nullopt, const std::string& vendor = "04a9",
            const std::string& product = "1909") {
    fs::path folder = fs::path(root) / "devices" / path;
    fs::create_directories(folder);
    put(folder / "busnum", std::to_string(bus) + "\n");
    put(folder / "devnum", std::to_string(device) + "\n");
    put(folder / "idVendor", vendor + "\n");
    put(folder / "idProduct", product + "\n");
    if (serial) put(folder / "serial", *serial);
    link(path);
  }

  // The interface `name` of the device at `devices/<path>`. Real interfaces have no bus and
  // device numbers nor a serial number; these carry some, so that reading one as a device
  // shows.
  void plugInterface(const std::string& path, const std::string& name, unsigned bus,
                     unsigned device) {
    fs::path folder = fs::path(root) / "devices" / path / name;
    fs::create_directories(folder);
    put(folder / "bInterfaceClass", "ff\n");
    put(folder / "busnum", std::to_string(bus) + "\n");
    put(folder / "devnum", std::to_string(device) + "\n");
    put(folder / "idVendor", "04a9\n");
    put(folder / "idProduct", "1909\n");
    put(folder / "serial", "interface\n");
    link(path + "/" + name);
  }

  void link(const std::string& path) {
    fs::path target = fs::path("../../../devices") / path;
    fs::create_symlink(target, fs::path(root) / "bus/usb/devices" / fs::path(path).filename());
  }

  void unplug(const std::string& path) {
    fs::remove(fs::path(root) / "bus/usb/devices" / fs::path(path).filename());
    fs::remove_all(fs::path(root) / "devices" / path);
  }

  std::optional<std::string> uuid(const std::string& name) const {
    return Identities(root).uuid(name);
  }

  qevtest::TempDir temp;
  const std::string root = temp.path();
};

constexpr char bus1[] = "pci0000:00/0000:00:14.0/usb1";
constexpr char bus2[] = "pci0000:00/0000:00:1a.0/usb2";

std::string on(const char* bus, const std::string& rest) { return std::string(bus) + rest; }

TEST_F(Identity, NamesGetTheIdentityOfTheirDevice) {
  // Two controllers; on the first a hub with the scanners behind it.
  plug(bus1, 1, 1, "0000:00:14.0\n", "1d6b", "0002");
  plugInterface(bus1, "1-0:1.0", 1, 1);
  plug(on(bus1, "/1-1"), 1, 2, std::nullopt, "05e3", "0610");
  plugInterface(on(bus1, "/1-1"), "1-1:1.0", 1, 2);
  // Twins without serial numbers, on two ports of the hub.
  plug(on(bus1, "/1-1/1-1.4"), 1, 4);
  plugInterface(on(bus1, "/1-1/1-1.4"), "1-1.4:1.0", 1, 4);
  plug(on(bus1, "/1-1/1-1.3"), 1, 3);
  plugInterface(on(bus1, "/1-1/1-1.3"), "1-1.3:1.0", 1, 9);
  plug(on(bus1, "/1-2"), 1, 5, "A1B2C3\n", "04c5", "132e");
  plug(on(bus1, "/1-5"), 1, 7, "\n");
  plug(on(bus1, "/1-6"), 1, 10, std::nullopt, "04B8", "013A");
  plug(on(bus1, "/1-7"), 1, 12, std::nullopt, "4a9");
  // Two entries claiming the same numbers.
  plug(on(bus1, "/1-8"), 1, 11, "X\n");
  plug(on(bus1, "/1-9"), 1, 11, "Y\n");
  // No controller above the device.
  plug("platform/odd/1-10", 1, 13);
  plug(bus2, 2, 1, std::nullopt, "1d6b", "0002");
  plug(on(bus2, "/2-1"), 2, 4);

  struct {
    std::string name;
    std::optional<std::string> uuid;
  } cases[] = {
      {"genesys:libusb:001:004", "genesys:usb:04a9:1909@0000:00:14.0/1.4"},
      {"genesys:libusb:1:4", "genesys:usb:04a9:1909@0000:00:14.0/1.4"},
      {"genesys:libusb:0001:00004", "genesys:usb:04a9:1909@0000:00:14.0/1.4"},
      {"genesys:libusb:001:003", "genesys:usb:04a9:1909@0000:00:14.0/1.3"},
      {"genesys:libusb:002:004", "genesys:usb:04a9:1909@0000:00:1a.0/1"},
      {"genesys:libusb:001:002", "genesys:usb:05e3:0610@0000:00:14.0/1"},
      {"canon_dr:libusb:001:005", "canon_dr:usb:04c5:132e:A1B2C3"},
      {"plustek:libusb:001:007", "plustek:usb:04a9:1909@0000:00:14.0/5"},
      {"epson2:libusb:001:010", "epson2:usb:04b8:013a@0000:00:14.0/6"},
      {"genesys:libusb:001:012", std::nullopt},  // a vendor number that is not 4 digits
      {"genesys:libusb:001:011", std::nullopt},  // two devices
      {"genesys:libusb:001:013", std::nullopt},  // no controller, no serial
      {"genesys:libusb:001:009", std::nullopt},  // only an interface has the numbers
      {"genesys:libusb:001:008", std::nullopt},
      {"genesys:libusb:003:004", std::nullopt},
      {"genesys:libusb:001:004 ", std::nullopt},
      {"genesys:libusb:001:004:1", std::nullopt},
      {"genesys:libusb:001", std::nullopt},
      {"genesys:libusb::004", std::nullopt},
      {"genesys:libusb:+1:4", std::nullopt},
      {"genesys:libusb:99999999999:4", std::nullopt},
      {":libusb:001:004", std::nullopt},
      {"libusb:001:004", std::nullopt},
      // The numbers of another machine's bus.
      {"net:host:genesys:libusb:001:004", std::nullopt},
      {"airscan:e0:Office", "airscan:e:Office"},
      {"airscan:w1f:Floor 2: Printer", "airscan:w:Floor 2: Printer"},
      {"airscan:eA0:x", "airscan:e:x"},
      {"airscan:e:Office", std::nullopt},
      {"airscan:x0:Office", std::nullopt},
      {"airscan:e0g:Office", std::nullopt},
      {"airscan:e0:", std::nullopt},
      {"airscan:e0", std::nullopt},
      {"net:host:airscan:e0:Office", std::nullopt},
      {"test:0", std::nullopt},
      {"net:host:test:0", std::nullopt},
      {"fujitsu:fi-7160:12345", std::nullopt},
      {"pixma:04A91234_ABC", std::nullopt},
      {"hpaio:/usb/Officejet_4500?serial=CN0123", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(uuid(c.name), c.uuid);
  }
}

TEST_F(Identity, SerialNumbersAreEscaped) {
  struct {
    std::string file;  // the serial file's content
    std::string uuid;
  } cases[] = {
      {"A1B2C3\n", "genesys:usb:04a9:1909:A1B2C3"},
      {"A1B2C3", "genesys:usb:04a9:1909:A1B2C3"},
      {"SN 0042 \n", "genesys:usb:04a9:1909:SN 0042 "},
      {"a:b/c@d%e\n", "genesys:usb:04a9:1909:a%3Ab%2Fc%40d%25e"},
      {"\xff\xfe\x80\n", "genesys:usb:04a9:1909:%FF%FE%80"},
      {"x\x01\t\x7f~\n", "genesys:usb:04a9:1909:x%01%09%7F~"},
      {"ab\n\n", "genesys:usb:04a9:1909:ab%0A"},
      {std::string("a\0b\n", 4), "genesys:usb:04a9:1909:a%00b"},
      {"\n", "genesys:usb:04a9:1909@0000:00:14.0/1.4"},
      {"", "genesys:usb:04a9:1909@0000:00:14.0/1.4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    plug(on(bus1, "/1-1/1-1.4"), 1, 4, c.file);
    EXPECT_EQ(uuid("genesys:libusb:001:004"), c.uuid);
    unplug(on(bus1, "/1-1/1-1.4"));
  }
}

TEST_F(Identity, AfterAPowerCycleTheNewNumbersGiveTheSameIdentity) {
  plug(on(bus1, "/1-1"), 1, 4);
  plug(on(bus1, "/1-2"), 1, 5, "SN1\n");
  ASSERT_EQ(uuid("genesys:libusb:001:004"), "genesys:usb:04a9:1909@0000:00:14.0/1");
  ASSERT_EQ(uuid("genesys:libusb:001:005"), "genesys:usb:04a9:1909:SN1");

  // Both switched off and on again: the kernel numbers them anew, the first now taking the
  // number the second had.
  unplug(on(bus1, "/1-1"));
  unplug(on(bus1, "/1-2"));
  plug(on(bus1, "/1-1"), 1, 5);
  plug(on(bus1, "/1-2"), 1, 6, "SN1\n");
  EXPECT_EQ(uuid("genesys:libusb:001:004"), std::nullopt);
  EXPECT_EQ(uuid("genesys:libusb:001:005"), "genesys:usb:04a9:1909@0000:00:14.0/1");
  EXPECT_EQ(uuid("genesys:libusb:001:006"), "genesys:usb:04a9:1909:SN1");
}

TEST_F(Identity, WithoutATreeUsbNamesStayAsTheyAre) {
  plug(on(bus1, "/1-1"), 1, 4, "SN1\n");
  put(root + "/plain", "x");
  for (const std::string& sysfs :
       {root + "/missing", root + "/plain", root + "/devices", std::string()}) {
    SCOPED_TRACE(sysfs);
    Identities identities(sysfs);
    EXPECT_EQ(identities.uuid("genesys:libusb:001:004"), std::nullopt);
    // Names that need no tree still get theirs.
    EXPECT_EQ(identities.uuid("airscan:e0:Office"), "airscan:e:Office");
  }
}

TEST(Choose, FindsTheOneDeviceWithTheIdentifier) {
  const std::vector<Listed> listed = {
      {"genesys:libusb:001:004", "genesys:usb:04a9:1909:SN1"},
      {"test:0", std::nullopt},
      {"airscan:e0:Office", "airscan:e:Office"},
      // Twins whose maker gave every unit one serial number.
      {"genesys:libusb:001:005", "genesys:usb:04a9:1909:0123456789"},
      {"genesys:libusb:001:006", "genesys:usb:04a9:1909:0123456789"},
      // pixma twins without serial numbers: SANE lists both under one name.
      {"pixma:04A91234", std::nullopt},
      {"pixma:04A91234", std::nullopt},
      // One device's name is another's UUID.
      {"x", std::nullopt},
      {"other", "x"},
  };
  struct {
    std::string id;
    Match match;
    std::string name;
  } cases[] = {
      {"genesys:usb:04a9:1909:SN1", Match::one, "genesys:libusb:001:004"},
      {"test:0", Match::one, "test:0"},
      {"airscan:e:Office", Match::one, "airscan:e0:Office"},
      // The UUID hides the name it replaces.
      {"genesys:libusb:001:004", Match::none, ""},
      {"airscan:e0:Office", Match::none, ""},
      {"other", Match::none, ""},
      {"genesys:usb:04a9:1909:SN", Match::none, ""},
      {"Test:0", Match::none, ""},
      {"test:1", Match::none, ""},
      {"", Match::none, ""},
      {"genesys:usb:04a9:1909:0123456789", Match::several, ""},
      {"pixma:04A91234", Match::several, ""},
      {"x", Match::several, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Choice choice = choose(listed, c.id);
    EXPECT_EQ(choice.match, c.match);
    EXPECT_EQ(choice.name, c.name);
  }
  EXPECT_EQ(choose({}, "test:0").match, Match::none);
}

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
