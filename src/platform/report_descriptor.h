// Report lengths from a HID report descriptor, computed the way the platform's
// HID class reports them, for backends whose library has no capabilities call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/hid_platform.h"

namespace tensivo::platform {

struct DescriptorSummary {
  // Each top-level collection's usage and lengths, in descriptor order, as
  // the platform's caps record gives them for one collection: lengths count
  // the report-id byte, 0 where the collection has no report of that type or
  // its reports carry no data bits.
  std::vector<HidCaps> collections;
  bool uses_report_ids = false;
};

// nullopt for a malformed descriptor (truncated or long items, pop without
// push, unbalanced collections, absurd sizes or counts). Never reads outside
// `descriptor`.
std::optional<DescriptorSummary> ParseReportDescriptor(std::span<const std::uint8_t> descriptor);

// What an interface holding these collections reports: the largest length of
// each type over its collections, usage and page of the first. All zero when
// there is no collection.
HidCaps InterfaceCaps(const DescriptorSummary& summary);

}  // namespace tensivo::platform
