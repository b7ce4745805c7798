#include "platform/report_window.h"

#include <algorithm>
#include <cstring>

namespace tensivo::platform {

bool ReportWindow::Append(std::span<const std::uint8_t> data, bool add_zero_id) {
  const std::size_t length = data.size() + (add_zero_id ? 1 : 0);
  if (length == 0 || length > buffer_.size()) return false;
  std::size_t drop = 0;
  while (used_ - drop + length > buffer_.size()) {
    drop += lengths_.front();
    lengths_.pop_front();
  }
  if (drop > 0) {
    const std::span<std::uint8_t> kept = buffer_.subspan(drop, used_ - drop);
    std::memmove(buffer_.data(), kept.data(), kept.size());
    used_ = kept.size();
  }
  std::span<std::uint8_t> slot = buffer_.subspan(used_, length);
  if (add_zero_id) {
    slot[0] = 0;
    slot = slot.subspan(1);
  }
  std::ranges::copy(data, slot.begin());
  used_ += length;
  lengths_.push_back(length);
  return true;
}

}  // namespace tensivo::platform
