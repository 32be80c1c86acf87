#pragma once

#include <windows.h>

// A push button that shows a picture, drawn by its owner in the system's colours: in high
// contrast the button's own drawing (themed under Wine, embossed while disabled) keeps colours
// the scheme does not have, or draws the picture in one that vanishes into the face.
namespace mdlPictureButton {

// The button's style for the contrast: owner-drawn in high contrast, else a push button that
// draws its icon itself.
LONG_PTR StyleFor(LONG_PTR style, bool highContrast);

// Draws the button: the face and its edge as a push button has them (pressed or not), the
// picture, side pixels square, in the middle (its shape alone in the colour of disabled words
// while disabled), and the focus rectangle unless keyboard cues are hidden.
void Draw(const DRAWITEMSTRUCT& item, HICON picture, int side);

} // namespace mdlPictureButton
