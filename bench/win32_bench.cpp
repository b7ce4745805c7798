// The Win32 front-end's figures, taken under wine beside the Qt ones
// (bench/run): the connected tick, the details read, the three gain lists
// filled from empty, and with --start the time from the process's start to
// the demo's details painted. Prints "name value" lines: medians in
// microseconds, or for --start the wall clock (ns since 1970) when the
// details were painted and the processor time spent until then.
//
// wine runs no Google Benchmark here, so each figure is the median of many
// single timings around the window's own call, as window_bench takes them.
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_world.h"
#include "device/device_text.h"
#include "device/protocol.h"
#include "sim/demo_world.h"
#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/win32/win32_form.h"

namespace {

using tensivo::window::frmMain;
using tensivo::window::win32::Win32Form;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

template <typename F>
double MicrosecondsOf(F&& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

using Connected = tensivo::bench::Connected<Win32Form>;

// Seven bars to new random places on every tick, read, set and repainted by
// the tick's own pump.
double ConnectedTick() {
  Connected world;
  tensivo::bench::MovingBars reports(7);
  std::vector<double> times;
  for (int i = 0; i < 400; ++i) {
    world.hid.PushInput(world.device, reports.Next());
    world.hid.ClearLogs();
    times.push_back(MicrosecondsOf([&] { world.window->Timer_Timer(); }));
  }
  return Median(times);
}

double DetailsRead() {
  Connected world;
  std::vector<double> times;
  for (int i = 0; i < 60; ++i) {
    world.hid.ClearLogs();
    times.push_back(MicrosecondsOf([&] { world.window->Read_Device_Details(); }));
    world.form.DoEvents();
  }
  return Median(times);
}

// What the control itself costs for 3 x 2560 entries, which a refill with
// the same entries does not pay again.
double GainListsFromEmpty() {
  Connected world;
  std::vector<std::string> texts;
  for (int p = 0; p < tensivo::device::kGainCount; ++p) {
    texts.push_back(tensivo::device::GainText(p, world.form.DecimalPoint()));
  }
  const std::vector<std::string> other = {"other"};
  std::vector<double> times;
  for (int i = 0; i < 15; ++i) {
    for (auto* list : {&world.window->LC1_gain, &world.window->LC2_gain, &world.window->LC3_gain}) {
      list->Fill(other);
    }
    times.push_back(MicrosecondsOf([&] {
      for (auto* list :
           {&world.window->LC1_gain, &world.window->LC2_gain, &world.window->LC3_gain}) {
        list->Fill(texts);
      }
    }));
    world.form.DoEvents();
  }
  return Median(times);
}

long long UnixNanoseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000LL) * 100;  // 100 ns since 1601
}

long long CpuMicroseconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto us = [](const FILETIME& t) {
    return ((static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10;
  };
  return us(kernel) + us(user);
}

// The demo as tensivo-config-demo.exe starts it, until the window has
// painted a device's details.
int StartToDetails() {
  auto hid = tensivo::sim::MakeDemoWorld();
  Win32Form form;
  frmMain window(*hid, form);
  window.Form_Load();
  for (int i = 0; i < 500 && window.lblProduct.Caption().empty(); ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    form.DoEvents();
  }
  if (window.lblProduct.Caption().empty()) {
    std::fprintf(stderr, "the details were never shown\n");
    return 1;
  }
  RedrawWindow(form.hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  std::printf("details_painted_ns %lld\ncpu_us %lld\n", UnixNanoseconds(), CpuMicroseconds());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--start") == 0) return StartToDetails();
  std::printf("connected_tick_us %.1f\n", ConnectedTick());
  std::printf("details_read_us %.1f\n", DetailsRead());
  std::printf("gain_lists_from_empty_us %.1f\n", GainListsFromEmpty());
  return 0;
}
