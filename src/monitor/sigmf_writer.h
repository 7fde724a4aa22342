// A capture as a SigMF recording: BASE.sigmf-data (interleaved I, Q as little-endian signed 16-bit
// integers, "ci16_le", as the plot tool exports) and BASE.sigmf-meta (JSON), with the
// demodulator's state at the moment of the capture as annotations over the whole recording.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "monitor/monitor_feed.h"
#include "result/result.h"

namespace demodctl::monitor {

// The metadata document (pure): global, one capture segment, one annotation carrying board,
// time, mode report, lock stages, C/N and MER.
nlohmann::json sigmf_meta(const CaptureRecord& capture, const BoardSample& context);

// Writes both files, each complete and synced under a temporary name before it is renamed into
// place (never through a symbolic link); FaultKind::file (one line) on failure, when neither is
// left behind.
Result<void> write_sigmf(const std::string& base, const CaptureRecord& capture,
                         const BoardSample& context);

}  // namespace demodctl::monitor
