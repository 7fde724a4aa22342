// How DEMODCTL_I2C_BUS names the bridge's bus: the value forms, the adapter names and numbers
// looked up in a fake sysfs tree, and the adapter listing of --list-buses.
#include "adapters/bus_choice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

namespace fs = std::filesystem;
using Kind = BusChoice::Kind;

TEST(BusChoice, ValueForms) {
  const std::pair<const char*, BusChoice> cases[] = {
      {nullptr, {Kind::kAutoDetect, ""}},
      {"", {Kind::kAutoDetect, ""}},
      {"sim", {Kind::kSimDefault, ""}},
      {"sim:board.json", {Kind::kSimScenario, "board.json"}},
      {"/dev/i2c-7", {Kind::kDeviceNode, "/dev/i2c-7"}},
      {"7", {Kind::kDeviceNode, "/dev/i2c-7"}},
      {"007", {Kind::kDeviceNode, "/dev/i2c-7"}},
      {"i2c-12", {Kind::kDeviceNode, "/dev/i2c-12"}},
      {"999999", {Kind::kDeviceNode, "/dev/i2c-999999"}},
      {"1234567", {Kind::kBadNumber, "1234567"}},
      {"i2c-99999999999999999999", {Kind::kBadNumber, "i2c-99999999999999999999"}},
      {"i2c-", {Kind::kAdapterName, "i2c-"}},
      {"i2c-7 ", {Kind::kAdapterName, "i2c-7 "}},
      {"CH341 I2C USB bus", {Kind::kAdapterName, "CH341 I2C USB bus"}},
  };
  for (const auto& [value, choice] : cases) {
    EXPECT_EQ(parse_bus_choice(value), choice) << (value ? value : "unset");
  }
}

// A sysfs tree laid out like the kernel's: the adapter's node below its parent device, its i2c-dev
// class device (which holds the name) below that, linked from <root>/class/i2c-dev. A USB parent
// is a USB device directory (idVendor, idProduct) with the adapter on its interface.
void add_adapter(const fs::path& root, int number, const std::string& parent,
                 const std::string& name, const char* usb_id) {
  const std::string entry = "i2c-" + std::to_string(number);
  const fs::path device = fs::path("devices") / parent;
  const fs::path node = device / (usb_id ? "1-2:1.0" : "") / entry;
  const fs::path class_dir = node / "i2c-dev" / entry;
  fs::create_directories(root / class_dir);
  fs::create_directories(root / "class" / "i2c-dev");
  fs::create_directory_symlink("../..", root / class_dir / "device");
  fs::create_directory_symlink("../.." / class_dir, root / "class" / "i2c-dev" / entry);
  std::ofstream(root / class_dir / "name") << name << '\n';
  if (usb_id != nullptr) {
    std::ofstream(root / device / "idVendor") << std::string(usb_id, 4) << '\n';
    std::ofstream(root / device / "idProduct") << std::string(usb_id + 5) << '\n';
  }
}

// Two USB bridges of one name (i2c-3 known as USB by its path alone, i2c-10 by its USB device
// directory; 3 beats 10 as a number), an SMBus controller, a display's AUX channel whose name holds
// a tab, a look-alike with no usb<digits> bus on its path, and a dangling link. The value chooses
// an adapter (marked in the listing) or says why none.
TEST(BusChoice, AdapterNamesAndTheListing) {
  const TempDir dir;
  const std::string& root = dir.path();
  add_adapter(root, 9, "pci0000:00/0000:00:02.0/drm/card0", "DP\taux", nullptr);
  add_adapter(root, 0, "pci0000:00/0000:00:1f.4", "SMBus I801 adapter at efa0", nullptr);
  add_adapter(root, 10, "pci0000:00/0000:00:14.0/usb1/1-3", "CH341 I2C USB bus", "1a86:5512");
  add_adapter(root, 3, "pci0000:00/0000:00:14.0/usb1/1-2", "CH341 I2C USB bus", nullptr);
  add_adapter(root, 1, "virtual/usbmon/usb-ish", "usbmon", nullptr);
  fs::create_directory_symlink("../../devices/gone/i2c-2", root + "/class/i2c-dev/i2c-2");
  const char* const lines[] = {"i2c-0\tSMBus I801 adapter at efa0\t-", "i2c-1\tusbmon\t-",
                               "i2c-3\tCH341 I2C USB bus\t-", "i2c-9\tDP?aux\t-",
                               "i2c-10\tCH341 I2C USB bus\t1a86:5512"};
  struct Case {
    const char* value;
    std::optional<std::string> node;
    std::string error;
    int marked;  // index into lines, -1 for none
  };
  const Case cases[] = {
      {nullptr, "/dev/i2c-3", "", 2},
      {"SMBus I801 adapter at efa0", "/dev/i2c-0", "", 0},
      {"i2c-10", "/dev/i2c-10", "", 4},
      {"/dev/i2c-9", "/dev/i2c-9", "", 3},
      {"CH341 I2C USB bus", std::nullopt,
       "several adapters are named 'CH341 I2C USB bus': i2c-3, i2c-10; name one by number", -1},
      {"DP aux", std::nullopt, "no I2C adapter named 'DP aux'", -1},
      {"1234567", std::nullopt, "'1234567' is not an I2C adapter number (at most 6 digits)", -1},
      {"sim", std::nullopt, "", -1},
  };
  for (const Case& c : cases) {
    const char* value = c.value ? c.value : "unset";
    const Result<std::optional<std::string>> node = chosen_node(parse_bus_choice(c.value), root);
    EXPECT_EQ(node.value_or(std::nullopt), c.node) << value;
    EXPECT_EQ(node ? "" : node.error().cause, c.error) << value;
    std::string expected;
    for (int i = 0; i < int(std::size(lines)); ++i)
      expected += std::string(lines[i]) + (i == c.marked ? "\t*\n" : "\n");
    const Result<BusListing> listing = bus_list(root, c.value);
    ASSERT_TRUE(listing) << value;
    EXPECT_EQ(listing->lines, expected) << value;
    EXPECT_EQ(listing->chosen ? "" : listing->chosen.error().cause, c.error) << value;
  }
  // An empty tree: nothing listed, nothing chosen.
  const TempDir empty;
  EXPECT_EQ(bus_list(empty.path(), nullptr).error().cause,
            "no I2C adapters under " + empty.path() + "/class/i2c-dev (is i2c-dev loaded?)");
  EXPECT_EQ(chosen_node(parse_bus_choice(nullptr), empty.path()).error().text(),
            "open error: no USB I2C adapter under " + empty.path() +
                "/class/i2c-dev (set DEMODCTL_I2C_BUS)");
}

// The simulated bridge unplugged by its scenario (drop_at_ops) stays unplugged.
TEST(BusChoice, UnpluggedSimulatedBridgeNeverHeals) {
  const TempDir dir;
  const std::string scenario = dir.path() + "/board.json";
  std::ofstream(scenario) << R"({"faults": {"drop_at_ops": [2]}})";
  const auto bus = open_chosen_bus({Kind::kSimScenario, scenario}, dir.path());
  ASSERT_TRUE(bus) << bus.error().text();
  const uint8_t id_register[] = {0x6C};
  uint8_t id[4];
  std::string results;
  for (int i = 0; i < 4; ++i) {
    results += (*bus)->transfer(0x68, id_register, id).has_value() ? "ok " : "failed ";
  }
  EXPECT_EQ(results, "ok failed failed failed ");
}

}  // namespace
}  // namespace demodctl::testing
