#include "monitor/sigmf_writer.h"

#include <unistd.h>

#include <vector>

#include "files/staged_file.h"
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

Result<void> write_sigmf(const std::string& base, const CaptureRecord& capture,
                         const BoardSample& context) {
  std::vector<uint8_t> data;
  data.reserve(capture.pairs.size() * 4);
  for (const auto& [i, q] : capture.pairs) {
    put_le16(data, i);
    put_le16(data, q);
  }
  const std::string meta = sigmf_meta(capture, context).dump(2) + "\n";
  // Both files complete on the disk under temporary names before either takes its own; the
  // metadata, which names the recording to its readers, goes into place last.
  const std::string data_path = base + ".sigmf-data";
  const std::string meta_path = base + ".sigmf-meta";
  StagedFile data_file(data_path, kFileMode);
  StagedFile meta_file(meta_path, kFileMode);
  if (Result<void> written = data_file.write(data.data(), data.size()); !written) return written;
  if (Result<void> written = meta_file.write(meta.data(), meta.size()); !written) return written;
  if (Result<void> placed = data_file.commit(); !placed) return placed;
  Result<void> placed = meta_file.commit();
  if (placed) placed = sync_directory_of(base);
  if (!placed) {
    ::unlink(data_path.c_str());
    ::unlink(meta_path.c_str());
  }
  return placed;
}

}  // namespace demodctl::monitor
