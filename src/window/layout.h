// Where every control of the window sits, in twips (1/1440 inch), relative to
// its frame or, for the frames and the button, to the client area.
#pragma once

#include <array>
#include <string_view>

namespace tensivo::window {

inline constexpr double kClientWidth = 8445;
inline constexpr double kClientHeight = 8370;
inline constexpr double kEmptyBarWidth = 15;

struct ControlPlace {
  std::string_view name;
  double left, top, width, height;
};

inline constexpr std::array<ControlPlace, 42> kLayout = {{
    {"Frame1", 100, 120, 8200, 1935},
    {"Label5", 240, 360, 1740, 285},
    {"lblProduct", 1980, 360, 3300, 330},
    {"Label4", 240, 720, 1215, 285},
    {"lblManuf", 1980, 720, 3300, 330},
    {"Label2", 240, 1080, 1455, 285},
    {"lblVersion", 1980, 1080, 3300, 330},
    {"Label3", 240, 1440, 1815, 285},
    {"SerNo", 2055, 1380, 1320, 360},

    {"Frame2", 100, 2160, 8200, 2055},
    {"Label10", 195, 500, 795, 315},
    {"Label9", 200, 1000, 795, 315},
    {"Label11", 200, 1500, 795, 315},
    {"LC1_frame", 1000, 480, 4695, 285},
    {"LC2_frame", 1000, 975, 4695, 285},
    {"LC3_frame", 1000, 1485, 4695, 285},
    {"LC1_bar", 1050, 525, kEmptyBarWidth, 195},
    {"LC2_bar", 1050, 1020, kEmptyBarWidth, 195},
    {"LC3_bar", 1050, 1530, kEmptyBarWidth, 195},
    {"LC1_gain", 5900, 450, 1200, 360},
    {"LC2_gain", 5900, 950, 1200, 360},
    {"LC3_gain", 5900, 1450, 1200, 360},
    {"Label6", 7200, 500, 900, 315},
    {"Label8", 7200, 1000, 900, 315},
    {"Label7", 7200, 1500, 900, 315},

    {"Frame4", 100, 4305, 8200, 3105},
    {"Ch_label(4)", 200, 500, 795, 315},
    {"Ch_label(5)", 200, 1000, 795, 315},
    {"Ch_label(6)", 200, 1500, 795, 315},
    {"Ch_label(7)", 200, 2000, 795, 315},
    {"Ch_label(8)", 200, 2500, 795, 315},
    {"Ch_frame(4)", 1000, 480, 4695, 285},
    {"Ch_frame(5)", 1000, 975, 4695, 285},
    {"Ch_frame(6)", 1000, 1485, 4695, 285},
    {"Ch_frame(7)", 1000, 1980, 4695, 285},
    {"Ch_frame(8)", 1000, 2475, 4695, 285},
    {"Ch_bar(4)", 1050, 525, kEmptyBarWidth, 195},
    {"Ch_bar(5)", 1050, 1020, kEmptyBarWidth, 195},
    {"Ch_bar(6)", 1050, 1530, kEmptyBarWidth, 195},
    {"Ch_bar(7)", 1050, 2025, kEmptyBarWidth, 195},
    {"Ch_bar(8)", 1050, 2520, kEmptyBarWidth, 195},

    {"Command1", 2730, 7665, 2895, 495},
}};

}  // namespace tensivo::window
