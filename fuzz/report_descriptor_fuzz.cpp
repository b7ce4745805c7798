// Any bytes as a report descriptor: parse, and the lengths stay sane.
#include <cstdlib>

#include "platform/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto summary = tensivo::platform::ParseReportDescriptor({data, size});
  if (!summary) return 0;
  const auto caps = tensivo::platform::InterfaceCaps(*summary);
  for (const auto& c : summary->collections) {
    if (c.InputReportByteLength > caps.InputReportByteLength ||
        c.FeatureReportByteLength > caps.FeatureReportByteLength) {
      std::abort();
    }
    if (c.InputReportByteLength == 1 || c.OutputReportByteLength == 1 ||
        c.FeatureReportByteLength == 1)
      std::abort();  // an id byte and no data
  }
  return 0;
}
