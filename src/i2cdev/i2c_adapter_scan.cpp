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
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "files/safe_open.h"
#include "i2cdev/i2c_dev_bus.h"

namespace demodctl {
namespace {

constexpr std::string_view kAdapterPrefix = "i2c-";
constexpr std::string_view kUsbBusPrefix = "usb";
// Adapter numbers above this are not real; it also keeps the parse from overflowing.
constexpr uint32_t kMaxAdapterNumber = 1'000'000;
// The kernel keeps an adapter's name in 48 bytes; anything much longer is not a name.
constexpr std::size_t kMaxNameBytes = 256;
// idVendor and idProduct hold four lower-case hex digits and a newline.
constexpr std::size_t kUsbIdDigits = 4;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), is_digit);
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

// `name` in the directory `dir`.
std::string child(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!path.ends_with('/')) path += '/';
  path += name;
  return path;
}

// The directory holding `path` (an absolute path without a trailing '/'); "/" holds itself.
std::string parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The absolute path of `path` with every link resolved; nothing when it does not lead anywhere.
std::optional<std::string> resolved(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (real == nullptr) return std::nullopt;
  return std::string(real.get());
}

// What follows `root` in `node`, both resolved: "" unless `node` lies strictly below `root`.
std::string_view below(std::string_view node, std::string_view root) {
  const std::size_t skip = root == "/" ? 1 : root.size() + 1;
  if (node.size() <= skip || !node.starts_with(root) || node[skip - 1] != '/') return {};
  return node.substr(skip);
}

// Closes a directory listing when it goes out of scope.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool is_regular_file(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The nearest directory from `node` up holding a USB device's idVendor, staying below `root`.
std::optional<std::string> usb_device_above(const std::string& node, const std::string& root) {
  for (std::string dir = node; !below(dir, root).empty(); dir = parent(dir)) {
    if (is_regular_file(child(dir, "idVendor"))) return dir;
  }
  return std::nullopt;
}

bool runs_through_usb(const std::string& node, const std::string& root) {
  std::string_view rest = below(node, root);
  if (rest.empty()) return false;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    if (is_usb_bus_name(rest.substr(0, slash))) return true;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  // Ancestors only down to the sysfs root, never above it.
  return usb_device_above(node, root).has_value();
}

// A sysfs attribute's text without its trailing newline; nothing when it cannot be read.
std::optional<std::string> read_attribute(const std::string& file, std::size_t max_bytes) {
  Result<std::string> text = read_small_file(file, max_bytes);
  if (!text) return std::nullopt;
  if (text->ends_with('\n')) text->pop_back();
  return std::move(*text);
}

// One of the two halves of a USB id: exactly four hex digits.
std::optional<std::string> usb_id_half(const std::string& file) {
  auto text = read_attribute(file, kUsbIdDigits + 1);
  const bool hex =
      text && text->size() == kUsbIdDigits && std::all_of(text->begin(), text->end(), is_hex_digit);
  return hex ? text : std::nullopt;
}

// "vvvv:pppp" of the nearest USB device directory above `node`, staying below `root`; "" when
// there is none or its ids do not read as such.
std::string usb_id_above(const std::string& node, const std::string& root) {
  const std::optional<std::string> device = usb_device_above(node, root);
  if (!device) return "";
  const auto vendor = usb_id_half(child(*device, "idVendor"));
  const auto product = usb_id_half(child(*device, "idProduct"));
  return vendor && product ? *vendor + ":" + *product : "";
}

// Adapters listed in `dir`; `link` is the entry below each i2c-N entry that
// leads to the device node ("" when the entry itself is the link).
std::vector<I2cAdapter> list_adapters(const std::string& dir, std::string_view link,
                                      const std::string& root) {
  std::vector<I2cAdapter> adapters;
  const std::unique_ptr<DIR, DirCloser> entries(::opendir(dir.c_str()));
  if (entries == nullptr) return adapters;
  while (const dirent* entry = ::readdir(entries.get())) {
    const auto number = adapter_number(entry->d_name);
    if (!number) continue;
    const std::string path = child(dir, entry->d_name);
    const std::optional<std::string> node = resolved(link.empty() ? path : child(path, link));
    if (!node) continue;  // broken link
    adapters.push_back({*number, read_attribute(child(path, "name"), kMaxNameBytes).value_or(""),
                        usb_id_above(*node, root), runs_through_usb(*node, root)});
  }
  return adapters;
}

}  // namespace

std::vector<I2cAdapter> scan_i2c_adapters(const std::string& sysfs_root) {
  const std::optional<std::string> root = resolved(sysfs_root);
  if (!root) return {};
  std::vector<I2cAdapter> adapters =
      list_adapters(child(child(*root, "class"), "i2c-dev"), "device", *root);
  if (adapters.empty()) {
    adapters = list_adapters(child(child(child(*root, "bus"), "i2c"), "devices"), "", *root);
  }
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
