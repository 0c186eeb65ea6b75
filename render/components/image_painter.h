// Image views: picking the source for the size drawn, where the picture
// goes for each resize mode, and the drawing itself.
#pragma once

#include <functional>
#include <vector>

#include "render/components/canvas.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::render {

// The decoded image for a source, or null while it is not loaded (the
// lookup may start the load). The tree painter's caller provides it.
using ImageLookup = std::function<CanvasImagePtr(const ImageSource& source)>;

// The source whose pixels best cover `viewSize` at `pointScale`: the
// smallest at least as large, else the largest; sources without a size
// count as fitting. Null when there are none.
const ImageSource* PickImageSource(const ImageProps& image, Size viewSize, float pointScale);

// Where an image of `natural` logical size lands for `box` and `mode`
// (Repeat: the first tile, at the natural size from the box's top-left).
// The result may overhang the box (Cover); the caller clips to the box.
Rect ImageDestination(Size natural, const Rect& box, ResizeMode mode);

void PaintImage(Canvas& canvas, const MountedView& view, float pointScale, const ImageLookup& lookup);

}  // namespace VirelantDesktop::render
