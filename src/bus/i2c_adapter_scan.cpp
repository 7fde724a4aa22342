// Finds the I2C adapter of the USB-to-I2C bridge in sysfs.
//
// Every adapter appears as <sysfs>/class/i2c-dev/i2c-N, whose `device` link
// points at the adapter's node in the device tree; older layouts only have
// <sysfs>/bus/i2c/devices/i2c-N, itself a link to that node. An adapter counts
// as a USB adapter when its resolved node lies below a USB device, that is
// when, below the sysfs root,
//   - one of its path components is a USB bus (root hub) named `usb<digits>`,
//     as in .../0000:00:14.0/usb1/1-2/1-2:1.0/i2c-7, or
//   - one of its ancestor directories holds an `idVendor` file, which every
//     USB device directory (and no other kind of device) has.
// Links that cannot be resolved, or that lead out of the sysfs tree, are skipped. Among the USB
// adapters the one with the lowest number N (compared as a number, so i2c-9 beats i2c-10) wins.
//
// For the listing, each adapter's name is its entry's `name` attribute (what `i2cdetect -l`
// shows), and its USB vendor:product are the `idVendor` and `idProduct` of the nearest USB device
// directory above its node.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "bus/i2c_dev_bus.h"
#include "files/safe_open.h"

namespace demodctl {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kAdapterPrefix = "i2c-";
constexpr std::string_view kUsbBusPrefix = "usb";
// Adapter numbers above this are not real; it also keeps the parse from overflowing.
constexpr uint32_t kMaxAdapterNumber = 1'000'000;
// The kernel keeps an adapter's name in 48 bytes; anything much longer is not a name.
constexpr std::size_t kMaxNameBytes = 256;
// idVendor and idProduct hold four lower-case hex digits and a newline.
constexpr std::size_t kUsbIdDigits = 4;

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// N of an "i2c-N" entry name; nothing for any other name.
std::optional<uint32_t> adapter_number(std::string_view name) {
  if (!name.starts_with(kAdapterPrefix)) return std::nullopt;
  const std::string_view digits = name.substr(kAdapterPrefix.size());
  if (!all_digits(digits) || digits.size() > 7) return std::nullopt;
  uint32_t number = 0;
  for (const char c : digits) number = number * 10 + static_cast<uint32_t>(c - '0');
  if (number > kMaxAdapterNumber) return std::nullopt;
  return number;
}

bool is_usb_bus_name(std::string_view name) {
  return name.starts_with(kUsbBusPrefix) && all_digits(name.substr(kUsbBusPrefix.size()));
}

// True when `node` lies strictly below `root`.
bool is_below(const fs::path& node, const fs::path& root) {
  const fs::path relative = node.lexically_relative(root);
  return !relative.empty() && relative != "." && *relative.begin() != "..";
}

bool runs_through_usb(const fs::path& node, const fs::path& root) {
  if (!is_below(node, root)) return false;
  for (const fs::path& component : node.lexically_relative(root)) {
    if (is_usb_bus_name(component.native())) return true;
  }
  // Ancestors only down to the sysfs root, never above it.
  std::error_code ec;
  for (fs::path dir = node; dir != root && is_below(dir, root); dir = dir.parent_path()) {
    if (fs::is_regular_file(dir / "idVendor", ec)) return true;
  }
  return false;
}

// A sysfs attribute's text without its trailing newline; nothing when it cannot be read.
std::optional<std::string> read_attribute(const fs::path& file, std::size_t max_bytes) {
  std::string text;
  std::string reason;
  if (!read_small_file(file.native(), max_bytes, &text, &reason)) return std::nullopt;
  if (text.ends_with('\n')) text.pop_back();
  return text;
}

// One of the two halves of a USB id: exactly four hex digits.
std::optional<std::string> usb_id_half(const fs::path& file) {
  auto text = read_attribute(file, kUsbIdDigits + 1);
  const bool hex =
      text && text->size() == kUsbIdDigits && std::all_of(text->begin(), text->end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      });
  return hex ? text : std::nullopt;
}

// "vvvv:pppp" of the nearest USB device directory above `node`, staying below `root`; "" when
// there is none or its ids do not read as such.
std::string usb_id_above(const fs::path& node, const fs::path& root) {
  std::error_code ec;
  for (fs::path dir = node; dir != root && is_below(dir, root); dir = dir.parent_path()) {
    if (!fs::is_regular_file(dir / "idVendor", ec)) continue;
    const auto vendor = usb_id_half(dir / "idVendor");
    const auto product = usb_id_half(dir / "idProduct");
    return vendor && product ? *vendor + ":" + *product : "";
  }
  return "";
}

// Adapters listed in `dir`; `link` is the entry below each i2c-N entry that
// leads to the device node ("" when the entry itself is the link).
std::vector<I2cAdapter> list_adapters(const fs::path& dir, std::string_view link,
                                      const fs::path& root) {
  std::vector<I2cAdapter> adapters;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const auto number = adapter_number(it->path().filename().native());
    if (!number) continue;
    std::error_code resolve_ec;
    const fs::path target = link.empty() ? it->path() : it->path() / link;
    const fs::path node = fs::canonical(target, resolve_ec);
    if (resolve_ec) continue;  // broken link
    adapters.push_back({*number, read_attribute(it->path() / "name", kMaxNameBytes).value_or(""),
                        usb_id_above(node, root), runs_through_usb(node, root)});
  }
  return adapters;
}

}  // namespace

std::vector<I2cAdapter> scan_i2c_adapters(const std::string& sysfs_root) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs_root, ec);
  if (ec) return {};
  std::vector<I2cAdapter> adapters = list_adapters(root / "class" / "i2c-dev", "device", root);
  if (adapters.empty()) adapters = list_adapters(root / "bus" / "i2c" / "devices", "", root);
  std::sort(adapters.begin(), adapters.end(),
            [](const I2cAdapter& a, const I2cAdapter& b) { return a.number < b.number; });
  return adapters;
}

std::optional<std::string> find_usb_i2c_adapter(const std::vector<I2cAdapter>& adapters) {
  for (const I2cAdapter& adapter : adapters) {
    if (adapter.on_usb) return i2c_dev_node(adapter.number);
  }
  return std::nullopt;
}

std::optional<std::string> find_usb_i2c_adapter(const std::string& sysfs_root) {
  return find_usb_i2c_adapter(scan_i2c_adapters(sysfs_root));
}

std::string i2c_dev_node(uint32_t number) { return "/dev/i2c-" + std::to_string(number); }

}  // namespace demodctl
