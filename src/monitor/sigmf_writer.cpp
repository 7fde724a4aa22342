#include "monitor/sigmf_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/safe_open.h"
#include "monitor/json_records.h"

namespace demodctl::monitor {
namespace {

using nlohmann::json;

constexpr const char* kSigmfVersion = "1.0.0";
constexpr mode_t kFileMode = 0644;

void put_le16(std::vector<uint8_t>& out, int value) {
  const auto v = static_cast<uint16_t>(static_cast<int16_t>(value));
  out.push_back(static_cast<uint8_t>(v & 0xFFU));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

bool write_file(const std::string& path, const void* data, size_t size, std::string* error) {
  FileRule rule;
  rule.access = O_WRONLY | O_CREAT;
  rule.truncate = true;
  rule.create_mode = kFileMode;
  std::string reason;
  const int fd = open_file(path, rule, &reason);
  if (fd < 0) {
    *error = path + ": " + reason;
    return false;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

json sigmf_meta(const CaptureRecord& capture, const BoardSample& context) {
  json annotation = {{"core:sample_start", 0},
                     {"core:sample_count", capture.pairs.size()},
                     {"core:label", capture.mode.empty() ? "no lock" : capture.mode},
                     {"demodmon:board", capture.board},
                     {"demodmon:time", rfc3339_utc(capture.time)},
                     {"demodmon:mode", capture.mode},
                     {"demodmon:lock", lock_letters(context.lock_status)},
                     {"demodmon:lock_status", context.lock_status}};
  if (context.cn_db) annotation["demodmon:cn_db"] = *context.cn_db;
  if (context.strength_dbm) annotation["demodmon:strength_dbm"] = *context.strength_dbm;
  if (capture.mer_db) annotation["demodmon:mer_db"] = *capture.mer_db;
  return json{
      {"global",
       {{"core:datatype", "ci16_le"},
        {"core:version", kSigmfVersion},
        {"core:recorder", "demodmon"},
        {"core:description", "capture of the demodulator of board " + capture.board +
                                 " after carrier and timing recovery"}}},
      {"captures",
       json::array({{{"core:sample_start", 0}, {"core:datetime", rfc3339_utc(capture.time)}}})},
      {"annotations", json::array({annotation})}};
}

bool write_sigmf(const std::string& base, const CaptureRecord& capture, const BoardSample& context,
                 std::string* error) {
  std::vector<uint8_t> data;
  data.reserve(capture.pairs.size() * 4);
  for (const auto& [i, q] : capture.pairs) {
    put_le16(data, i);
    put_le16(data, q);
  }
  const std::string meta = sigmf_meta(capture, context).dump(2) + "\n";
  return write_file(base + ".sigmf-data", data.data(), data.size(), error) &&
         write_file(base + ".sigmf-meta", meta.data(), meta.size(), error);
}

}  // namespace demodctl::monitor
