// Every control of the window: what it is, its caption, and where it sits in
// twips (1/1440 inch), relative to its frame or, for the frames and the
// button, to the client area. Frames come before what they hold, outlines
// before their bars, so that building in table order stacks them right; and
// each caption comes before the control it names, the order in which
// Windows' accessibility layer looks for a control's name (the static text
// just before it).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace tensivo::window {

inline constexpr double kTwipsPerInch = 1440;

// Twips to pixels at `dpi` pixels per inch (15 twips are one pixel at 96).
inline int TwipsToPixels(double twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

inline constexpr double kClientWidth = 8445;
inline constexpr double kClientHeight = 8370;

// Below this the window is no longer readable; a screen that small gets a
// window larger than itself.
inline constexpr double kSmallestScale = 0.25;

// The largest scale up to 1 at which the client area, its twips converted
// at `dpi`, fits a room of that many pixels. Sizes round to the nearest
// pixel, and lround(x) <= n for any x <= n.
inline double FitScale(double dpi, int room_width, int room_height) {
  const double natural_width = kClientWidth * dpi / kTwipsPerInch;
  const double natural_height = kClientHeight * dpi / kTwipsPerInch;
  const double scale = std::min(room_width / natural_width, room_height / natural_height);
  return std::clamp(scale, kSmallestScale, 1.0);
}
inline constexpr double kEmptyBarWidth = 15;

enum class Kind {
  kFrame,
  kLabel,
  kValueLabel,  // shows device data: window-background fill, window-text colour
  kList,
  kOutline,  // white rectangle with a black border
  kBar,      // green rectangle that grows inside its outline
  kButton,
};

struct Colour {
  std::uint8_t red, green, blue;
};

// How an outline or a bar is painted: its fill and a one-pixel border.
struct ShapePaint {
  Colour fill;
  Colour border;
};
inline constexpr ShapePaint kOutlinePaint = {{255, 255, 255}, {0, 0, 0}};
inline constexpr ShapePaint kBarPaint = {{0, 128, 0}, {0, 128, 0}};

struct ControlPlace {
  std::string_view name;
  std::string_view container;  // a frame's name, or empty for the client area
  Kind kind;
  std::string_view caption;
  double left, top, width, height;
};

inline constexpr std::array<ControlPlace, 42> kLayout = {{
    {"Frame1", "", Kind::kFrame, "Details", 100, 120, 8200, 1935},
    {"Label5", "Frame1", Kind::kLabel, "Device name", 240, 360, 1740, 285},
    {"lblProduct", "Frame1", Kind::kValueLabel, "", 1980, 360, 3300, 330},
    {"Label4", "Frame1", Kind::kLabel, "Made by", 240, 720, 1215, 285},
    {"lblManuf", "Frame1", Kind::kValueLabel, "", 1980, 720, 3300, 330},
    {"Label2", "Frame1", Kind::kLabel, "Version", 240, 1080, 1455, 285},
    {"lblVersion", "Frame1", Kind::kValueLabel, "", 1980, 1080, 3300, 330},
    {"Label3", "Frame1", Kind::kLabel, "Serial Number", 240, 1440, 1815, 285},
    {"SerNo", "Frame1", Kind::kList, "", 2055, 1380, 1320, 360},

    {"Frame2", "", Kind::kFrame, "Load cell inputs", 100, 2160, 8200, 2055},
    {"Label10", "Frame2", Kind::kLabel, "LC1", 195, 500, 795, 315},
    {"Label9", "Frame2", Kind::kLabel, "LC2", 200, 1000, 795, 315},
    {"Label11", "Frame2", Kind::kLabel, "LC3", 200, 1500, 795, 315},
    {"LC1_frame", "Frame2", Kind::kOutline, "", 1000, 480, 4695, 285},
    {"LC2_frame", "Frame2", Kind::kOutline, "", 1000, 975, 4695, 285},
    {"LC3_frame", "Frame2", Kind::kOutline, "", 1000, 1485, 4695, 285},
    {"LC1_bar", "Frame2", Kind::kBar, "", 1050, 525, kEmptyBarWidth, 195},
    {"LC2_bar", "Frame2", Kind::kBar, "", 1050, 1020, kEmptyBarWidth, 195},
    {"LC3_bar", "Frame2", Kind::kBar, "", 1050, 1530, kEmptyBarWidth, 195},
    {"Label6", "Frame2", Kind::kLabel, "LC1 gain", 7200, 500, 900, 315},
    {"LC1_gain", "Frame2", Kind::kList, "", 5900, 450, 1200, 360},
    {"Label8", "Frame2", Kind::kLabel, "LC2 gain", 7200, 1000, 900, 315},
    {"LC2_gain", "Frame2", Kind::kList, "", 5900, 950, 1200, 360},
    {"Label7", "Frame2", Kind::kLabel, "LC3 gain", 7200, 1500, 900, 315},
    {"LC3_gain", "Frame2", Kind::kList, "", 5900, 1450, 1200, 360},

    {"Frame4", "", Kind::kFrame, "Potentiometer inputs", 100, 4305, 8200, 3105},
    {"Ch_label(4)", "Frame4", Kind::kLabel, "Input 4", 200, 500, 795, 315},
    {"Ch_label(5)", "Frame4", Kind::kLabel, "Input 5", 200, 1000, 795, 315},
    {"Ch_label(6)", "Frame4", Kind::kLabel, "Input 6", 200, 1500, 795, 315},
    {"Ch_label(7)", "Frame4", Kind::kLabel, "Input 7", 200, 2000, 795, 315},
    {"Ch_label(8)", "Frame4", Kind::kLabel, "Input 8", 200, 2500, 795, 315},
    {"Ch_frame(4)", "Frame4", Kind::kOutline, "", 1000, 480, 4695, 285},
    {"Ch_frame(5)", "Frame4", Kind::kOutline, "", 1000, 975, 4695, 285},
    {"Ch_frame(6)", "Frame4", Kind::kOutline, "", 1000, 1485, 4695, 285},
    {"Ch_frame(7)", "Frame4", Kind::kOutline, "", 1000, 1980, 4695, 285},
    {"Ch_frame(8)", "Frame4", Kind::kOutline, "", 1000, 2475, 4695, 285},
    {"Ch_bar(4)", "Frame4", Kind::kBar, "", 1050, 525, kEmptyBarWidth, 195},
    {"Ch_bar(5)", "Frame4", Kind::kBar, "", 1050, 1020, kEmptyBarWidth, 195},
    {"Ch_bar(6)", "Frame4", Kind::kBar, "", 1050, 1530, kEmptyBarWidth, 195},
    {"Ch_bar(7)", "Frame4", Kind::kBar, "", 1050, 2025, kEmptyBarWidth, 195},
    {"Ch_bar(8)", "Frame4", Kind::kBar, "", 1050, 2520, kEmptyBarWidth, 195},

    {"Command1", "", Kind::kButton, "Restore factory settings", 2730, 7665, 2895, 495},
}};

inline constexpr std::string_view kWindowCaption = "Tensivo Configuration";
// The demo's window looks like the utility's, so its title says what it is.
// ASCII, as the Win32 front-end sets captions in the ANSI code page.
inline constexpr std::string_view kDemoWindowCaption =
    "Tensivo Configuration Demo (simulated devices)";
inline constexpr std::string_view kTimerName = "Timer";
inline constexpr int kTimerInitialInterval = 50;

// The controls the user reaches with Tab, in that order.
inline constexpr std::array<std::string_view, 5> kTabOrder = {"SerNo", "LC1_gain", "LC2_gain",
                                                              "LC3_gain", "Command1"};

// The eight bars in report order (LC1..LC3, then inputs 4..8), each with the
// outline it grows in.
struct BarPlace {
  std::string_view bar;
  std::string_view outline;
};
inline constexpr std::array<BarPlace, 8> kBars = {{
    {"LC1_bar", "LC1_frame"},
    {"LC2_bar", "LC2_frame"},
    {"LC3_bar", "LC3_frame"},
    {"Ch_bar(4)", "Ch_frame(4)"},
    {"Ch_bar(5)", "Ch_frame(5)"},
    {"Ch_bar(6)", "Ch_frame(6)"},
    {"Ch_bar(7)", "Ch_frame(7)"},
    {"Ch_bar(8)", "Ch_frame(8)"},
}};

// The caption that names each control without a text of its own, for a
// screen reader: a value label, a list or a bar is announced by the caption
// beside it.
struct LabelledBy {
  std::string_view control;
  std::string_view label;
};
inline constexpr std::array<LabelledBy, 15> kLabelledBy = {{
    {"lblProduct", "Label5"},
    {"lblManuf", "Label4"},
    {"lblVersion", "Label2"},
    {"SerNo", "Label3"},
    {"LC1_gain", "Label6"},
    {"LC2_gain", "Label8"},
    {"LC3_gain", "Label7"},
    {"LC1_bar", "Label10"},
    {"LC2_bar", "Label9"},
    {"LC3_bar", "Label11"},
    {"Ch_bar(4)", "Ch_label(4)"},
    {"Ch_bar(5)", "Ch_label(5)"},
    {"Ch_bar(6)", "Ch_label(6)"},
    {"Ch_bar(7)", "Ch_label(7)"},
    {"Ch_bar(8)", "Ch_label(8)"},
}};

// How an outline or a bar of the table is painted; each front-end asks for
// every shape, so that a bar may have a colour of its own.
constexpr const ShapePaint& PaintOf(const ControlPlace& place) {
  return place.kind == Kind::kBar ? kBarPaint : kOutlinePaint;
}

// The place of a control by name, or null.
constexpr const ControlPlace* FindPlace(std::string_view name) {
  for (const ControlPlace& place : kLayout) {
    if (place.name == name) return &place;
  }
  return nullptr;
}

// The label that names `control`, or empty where it has none.
constexpr std::string_view LabelOf(std::string_view control) {
  for (const LabelledBy& pair : kLabelledBy) {
    if (pair.control == control) return pair.label;
  }
  return {};
}

// What a screen reader calls a control: its label's caption, or its own.
constexpr std::string_view AccessibleName(std::string_view control) {
  const ControlPlace* place = FindPlace(LabelOf(control));
  if (place == nullptr) place = FindPlace(control);
  return place == nullptr ? std::string_view{} : place->caption;
}

}  // namespace tensivo::window
