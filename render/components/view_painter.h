// The box every view draws: background and border, and the placeholder for
// a component nobody registered.
#pragma once

#include "render/components/canvas.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::render {

// The border widths a view draws: the laid-out widths when there are any,
// else the style's.
EdgeInsets BorderWidths(const MountedView& view);

// Background then border, in the view's local coordinates.
void PaintViewBox(Canvas& canvas, const MountedView& view);

// A light magenta box with a dashed outline and the component's name.
void PaintPlaceholder(Canvas& canvas, const MountedView& view);

}  // namespace VirelantDesktop::render
