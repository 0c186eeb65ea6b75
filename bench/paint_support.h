// Painting a mounted surface into a cairo image as the window would: the
// frame benchmarks share it.
#pragma once

#include <cairo.h>

#include <optional>

#include "platform/cairo_canvas.h"
#include "render/components/tree_painter.h"
#include "render/mounted_tree.h"

namespace VirelantDesktop::bench {

// Paints the surface of `rootTag` into `surface`, limited to `clip` (nullopt:
// everything).
inline void PaintInto(const render::MountedTree& tree, render::Tag rootTag, cairo_surface_t* surface,
                      std::optional<render::Rect> clip) {
  cairo_t* cr = cairo_create(surface);
  {
    platform::CairoCanvas canvas(cr, 1.0f, 1.0f);
    render::PaintOptions options;
    options.clip = clip;
    render::PaintSurface(tree, rootTag, canvas, options);
  }
  cairo_surface_flush(surface);
  cairo_destroy(cr);
}

}  // namespace VirelantDesktop::bench
