#pragma once

// How a read hands input reports to the window: the newest whole reports
// that fit the caller's buffer, back to back, oldest first. Both backends
// drain what the OS queued into one of these.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

namespace tensivo::platform {

// Lays input reports back to back at the front of `buffer`, oldest first, and
// keeps only the newest whole reports that fit: appending a report that does
// not fit drops the oldest ones until it does. A report longer than the whole
// buffer is never placed and leaves what is there alone.
class ReportWindow {
 public:
  explicit ReportWindow(std::span<std::uint8_t> buffer) : buffer_(buffer) {}

  // `data` as read from the device; `add_zero_id` puts the 0 report id in
  // front that the device did not send. False when the report was not placed.
  bool Append(std::span<const std::uint8_t> data, bool add_zero_id = false);

  std::size_t bytes() const { return used_; }
  std::size_t reports() const { return lengths_.size(); }

 private:
  std::span<std::uint8_t> buffer_;
  std::deque<std::size_t> lengths_;
  std::size_t used_ = 0;
};

}  // namespace tensivo::platform
