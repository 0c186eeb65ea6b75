// Text views: the view box, then the paragraph inside the content insets.
#pragma once

#include "render/components/canvas.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::render {

// The box the text is laid out in, in the view's local coordinates.
Rect ParagraphContentBox(const MountedView& view);

void PaintParagraph(Canvas& canvas, const MountedView& view);

}  // namespace VirelantDesktop::render
