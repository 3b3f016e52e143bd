#pragma once
// Base of download listeners: progress of a file download as a position out of a total.

#include <cstdint>

namespace container {

class MwFileRequestListener {
 public:
  virtual ~MwFileRequestListener() = default;
  // Progress: pos out of total (a download reports 10 before it starts, then up to 100 of 100).
  virtual void onData(std::int64_t total, std::int64_t pos) {}
};

}  // namespace container
