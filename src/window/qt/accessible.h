// What the window tells assistive technology beyond what Qt's widgets say of
// themselves: each bar is a value indicator named after its channel, and its
// outline, a painted frame, is no more than an unnamed filler.
#pragma once

namespace tensivo::window::qt {

class Shape;

// Makes the shape, named as in the layout table, known to assistive
// technology as a bar or an outline.
void MakeAccessible(Shape* shape);

}  // namespace tensivo::window::qt
