// Draws a surface's mounted views onto a canvas, back to front, or only the
// views that reach into a damaged area.
#pragma once

#include <optional>

#include "render/components/canvas.h"
#include "render/components/image_painter.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::render {

struct PaintOptions {
  // Absolute logical pixels; views wholly outside are skipped and nothing
  // is drawn beyond it. nullopt: the whole surface.
  std::optional<Rect> clip;
  float pointScale = 1;  // for picking image sources
  ImageLookup images;    // may be empty: images are then not drawn
};

// The canvas starts in surface coordinates (logical pixels).
void PaintSurface(const MountedTree& tree, Tag rootTag, Canvas& canvas, const PaintOptions& options);

}  // namespace VirelantDesktop::render
