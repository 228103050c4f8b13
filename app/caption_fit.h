#pragma once

class QLabel;

namespace hgt {

// Shrinks the label's font from the toolkit's default, in half points, until its word-wrapped text
// fits the label's box, so that a caption drawn for a smaller system font is never cut off.
void fitCaptionToBox(QLabel* label);

} // namespace hgt
