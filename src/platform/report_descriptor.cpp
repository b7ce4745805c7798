#include "platform/report_descriptor.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace tensivo::platform {
namespace {

enum class ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum class MainKind : std::uint8_t {
  kIgnored,  // reserved tags carry no report data
  kReport,
  kCollection,
  kEndCollection,
};

// Rows of the per-collection tally, in the order of the lengths they give.
constexpr std::size_t kInput = 0;
constexpr std::size_t kOutput = 1;
constexpr std::size_t kFeature = 2;
constexpr std::size_t kReportTypes = 3;

struct MainItem {
  MainKind kind = MainKind::kIgnored;
  std::size_t report_type = 0;
};

// Indexed by the 4-bit main item tag.
constexpr std::array<MainItem, 16> kMainItems = [] {
  std::array<MainItem, 16> items{};
  items[0x8] = {MainKind::kReport, kInput};
  items[0x9] = {MainKind::kReport, kOutput};
  items[0xA] = {MainKind::kCollection};
  items[0xB] = {MainKind::kReport, kFeature};
  items[0xC] = {MainKind::kEndCollection};
  return items;
}();

// Indexed by the 2-bit size field of a short item prefix.
constexpr std::array<std::size_t, 4> kDataSizes = {0, 1, 2, 4};

constexpr std::uint8_t kLongItemPrefix = 0xFE;

constexpr std::uint8_t kTagUsagePage = 0x0;
constexpr std::uint8_t kTagReportSize = 0x7;
constexpr std::uint8_t kTagReportId = 0x8;
constexpr std::uint8_t kTagReportCount = 0x9;
constexpr std::uint8_t kTagPush = 0xA;
constexpr std::uint8_t kTagPop = 0xB;
constexpr std::uint8_t kTagUsage = 0x0;

// Lengths are 16-bit and include the report-id byte.
constexpr std::uint64_t kMaxReportBits = (0xFFFFull - 1) * 8;

// Deeper than any real descriptor nests; bounds what a hostile one can make us hold.
constexpr std::size_t kMaxPushDepth = 16;

struct GlobalState {
  std::uint16_t usage_page = 0;
  std::uint32_t report_size = 0;
  std::uint32_t report_count = 0;
  std::uint8_t report_id = 0;
};

struct LocalState {
  std::optional<std::uint32_t> usage;
  bool usage_has_page = false;
};

using ReportBits = std::array<std::array<std::uint32_t, 256>, kReportTypes>;

std::uint32_t LittleEndian(std::span<const std::uint8_t> data) {
  std::uint32_t value = 0;
  for (std::size_t i = data.size(); i > 0; --i) value = (value << 8) | data[i - 1];
  return value;
}

std::uint16_t ByteLength(const std::array<std::uint32_t, 256>& bits_per_id) {
  const std::uint32_t largest = *std::max_element(bits_per_id.begin(), bits_per_id.end());
  if (largest == 0) return 0;
  return static_cast<std::uint16_t>((largest + 7) / 8 + 1);
}

class Parser {
 public:
  std::optional<DescriptorSummary> Run(std::span<const std::uint8_t> descriptor) {
    std::size_t pos = 0;
    while (pos < descriptor.size()) {
      const std::uint8_t prefix = descriptor[pos];
      if (prefix == kLongItemPrefix) return std::nullopt;
      const std::size_t size = kDataSizes.at(prefix & 0x3);
      if (size > descriptor.size() - pos - 1) return std::nullopt;
      const std::uint32_t value = LittleEndian(descriptor.subspan(pos + 1, size));
      pos += 1 + size;

      const auto type = static_cast<ItemType>((prefix >> 2) & 0x3);
      const std::uint8_t tag = prefix >> 4;
      bool ok = false;
      switch (type) {
        case ItemType::kMain:
          ok = Main(tag);
          break;
        case ItemType::kGlobal:
          ok = Global(tag, value);
          break;
        case ItemType::kLocal:
          ok = Local(tag, value, size);
          break;
        case ItemType::kReserved:
          ok = false;
          break;
      }
      if (!ok) return std::nullopt;
    }
    if (depth_ != 0) return std::nullopt;
    return std::move(summary_);
  }

 private:
  bool Main(std::uint8_t tag) {
    const MainItem item = kMainItems.at(tag);
    const LocalState local = std::exchange(local_, LocalState{});
    switch (item.kind) {
      case MainKind::kIgnored:
        return true;
      case MainKind::kCollection:
        if (depth_++ == 0) OpenTopLevel(local);
        return true;
      case MainKind::kEndCollection:
        if (depth_ == 0) return false;
        if (--depth_ == 0) CloseTopLevel();
        return true;
      case MainKind::kReport:
        break;
    }
    // Data outside every top-level collection belongs to no collection's reports.
    if (depth_ == 0) return true;
    std::uint32_t& total = bits_.at(item.report_type).at(global_.report_id);
    const std::uint64_t added = std::uint64_t{global_.report_size} * global_.report_count;
    if (added > kMaxReportBits - total) return false;
    total += static_cast<std::uint32_t>(added);
    return true;
  }

  bool Global(std::uint8_t tag, std::uint32_t value) {
    switch (tag) {
      case kTagUsagePage:
        global_.usage_page = static_cast<std::uint16_t>(value);
        return true;
      case kTagReportSize:
        global_.report_size = value;
        return true;
      case kTagReportCount:
        global_.report_count = value;
        return true;
      case kTagReportId:
        // Id 0 is reserved for devices without ids, and ids are a single byte on the wire.
        if (value == 0 || value > 0xFF) return false;
        global_.report_id = static_cast<std::uint8_t>(value);
        summary_.uses_report_ids = true;
        return true;
      case kTagPush:
        if (stack_size_ == stack_.size()) return false;
        stack_.at(stack_size_++) = global_;
        return true;
      case kTagPop:
        if (stack_size_ == 0) return false;
        global_ = stack_.at(--stack_size_);
        return true;
      default:
        return true;
    }
  }

  bool Local(std::uint8_t tag, std::uint32_t value, std::size_t size) {
    // Only the first usage names a collection.
    if (tag == kTagUsage && !local_.usage) {
      local_.usage = value;
      local_.usage_has_page = size == 4;
    }
    return true;
  }

  void OpenTopLevel(const LocalState& local) {
    HidCaps collection;
    const std::uint32_t usage = local.usage.value_or(0);
    collection.Usage = static_cast<std::uint16_t>(usage);
    collection.UsagePage =
        local.usage_has_page ? static_cast<std::uint16_t>(usage >> 16) : global_.usage_page;
    summary_.collections.push_back(collection);
    for (auto& row : bits_) row.fill(0);
  }

  void CloseTopLevel() {
    HidCaps& collection = summary_.collections.back();
    collection.InputReportByteLength = ByteLength(bits_.at(kInput));
    collection.OutputReportByteLength = ByteLength(bits_.at(kOutput));
    collection.FeatureReportByteLength = ByteLength(bits_.at(kFeature));
  }

  DescriptorSummary summary_;
  GlobalState global_;
  LocalState local_;
  std::array<GlobalState, kMaxPushDepth> stack_{};
  std::size_t stack_size_ = 0;
  std::size_t depth_ = 0;
  ReportBits bits_{};
};

}  // namespace

std::optional<DescriptorSummary> ParseReportDescriptor(std::span<const std::uint8_t> descriptor) {
  return Parser{}.Run(descriptor);
}

HidCaps InterfaceCaps(const DescriptorSummary& summary) {
  HidCaps caps;
  if (summary.collections.empty()) return caps;
  caps.Usage = summary.collections.front().Usage;
  caps.UsagePage = summary.collections.front().UsagePage;
  for (const HidCaps& collection : summary.collections) {
    caps.InputReportByteLength =
        std::max(caps.InputReportByteLength, collection.InputReportByteLength);
    caps.OutputReportByteLength =
        std::max(caps.OutputReportByteLength, collection.OutputReportByteLength);
    caps.FeatureReportByteLength =
        std::max(caps.FeatureReportByteLength, collection.FeatureReportByteLength);
  }
  return caps;
}

}  // namespace tensivo::platform
