// Draws the application icon and writes it as talvek-<size>.png into a folder.
//
//   talvek-icon-gen OUT_DIR SIZE...
//
// The mark: a white speech bubble carrying a "T" on a deep blue rounded
// square. Every size is drawn from paths, not scaled from a bitmap; straight
// edges sit on the pixel grid, and the two smallest sizes have their own
// proportions so the bubble and the T stay legible.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct Rgb {
  double r, g, b;
};
constexpr Rgb kBlue{0x09 / 255.0, 0x15 / 255.0, 0xFF / 255.0};
constexpr Rgb kBlueLight{0x2E / 255.0, 0x3A / 255.0, 0xFF / 255.0};
constexpr Rgb kWhite{1.0, 1.0, 1.0};

// Geometry in pixels of the icon being drawn.
struct Layout {
  double inset, corner;                   // background square
  double left, top, right, bottom, round;  // bubble body
  double tailRoot0, tailRoot1, tailTipX, tailTipY;
  double barLeft, barRight, barTop, barBottom;  // the T's bar
  double stemLeft, stemRight, stemBottom;      // and its stem, from the bar down
  bool shaded;                                 // gradient on the background
};

// Drawn on a 256 grid and scaled, with straight edges rounded to whole pixels
// and the T kept symmetric about the centre.
Layout Scaled(int size) {
  const double s = size / 256.0;
  const double centre = size / 2.0;
  auto px = [s](double units) { return std::round(units * s); };
  Layout l{};
  l.inset = std::floor(8 * s);
  l.corner = 56 * s;
  l.left = centre - px(80);
  l.right = centre + px(80);
  l.top = px(56);
  l.bottom = px(176);
  l.round = 40 * s;
  l.tailRoot0 = l.left + px(28);
  l.tailRoot1 = l.left + px(88);
  l.tailTipX = l.left + 10 * s;
  l.tailTipY = 218 * s;
  l.barLeft = centre - px(44);
  l.barRight = centre + px(44);
  l.barTop = px(84);
  l.barBottom = l.barTop + std::max(1.0, px(26));
  l.stemLeft = centre - std::max(1.0, px(13));
  l.stemRight = centre + std::max(1.0, px(13));
  l.stemBottom = px(152);
  l.shaded = size >= 48;
  return l;
}

Layout ForSize(int size) {
  // At 16 and 24 px the scaled bubble leaves the T a pixel of room: fill the
  // square more and give the strokes whole pixels.
  if (size == 16)
    return {.inset = 0, .corner = 3,
            .left = 2, .top = 2, .right = 14, .bottom = 12, .round = 2.5,
            .tailRoot0 = 3.5, .tailRoot1 = 9, .tailTipX = 3, .tailTipY = 15,
            .barLeft = 4, .barRight = 12, .barTop = 4, .barBottom = 6,
            .stemLeft = 7, .stemRight = 9, .stemBottom = 10, .shaded = false};
  if (size == 24)
    return {.inset = 0, .corner = 4.5,
            .left = 3, .top = 3, .right = 21, .bottom = 17, .round = 4,
            .tailRoot0 = 5.5, .tailRoot1 = 11, .tailTipX = 3.5, .tailTipY = 22.5,
            .barLeft = 6, .barRight = 18, .barTop = 6, .barBottom = 9,
            .stemLeft = 10, .stemRight = 14, .stemBottom = 14, .shaded = false};
  return Scaled(size);
}

void RoundedRect(cairo_t* cr, double x0, double y0, double x1, double y1, double r) {
  r = std::min({r, (x1 - x0) / 2, (y1 - y0) / 2});
  cairo_new_sub_path(cr);
  cairo_arc(cr, x1 - r, y0 + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x1 - r, y1 - r, r, 0, M_PI / 2);
  cairo_arc(cr, x0 + r, y1 - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x0 + r, y0 + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void SetColour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void Draw(cairo_t* cr, int size) {
  const Layout l = ForSize(size);

  RoundedRect(cr, l.inset, l.inset, size - l.inset, size - l.inset, l.corner);
  if (l.shaded) {
    cairo_pattern_t* shade = cairo_pattern_create_linear(0, l.inset, 0, size - l.inset);
    cairo_pattern_add_color_stop_rgb(shade, 0, kBlueLight.r, kBlueLight.g, kBlueLight.b);
    cairo_pattern_add_color_stop_rgb(shade, 0.6, kBlue.r, kBlue.g, kBlue.b);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
  } else {
    SetColour(cr, kBlue);
    cairo_fill(cr);
  }

  // Body and tail are filled one after the other: as one path their
  // overlap would depend on the winding of each part.
  SetColour(cr, kWhite);
  RoundedRect(cr, l.left, l.top, l.right, l.bottom, l.round);
  cairo_fill(cr);
  const double drop = l.tailTipY - l.bottom;
  const double anchor = l.bottom - l.round / 2;  // inside the body, so no seam shows
  cairo_move_to(cr, l.tailRoot0, anchor);
  cairo_curve_to(cr, l.tailRoot0, l.bottom + drop * 0.4, l.tailTipX + (l.tailRoot0 - l.tailTipX) * 0.4,
                 l.tailTipY - drop * 0.2, l.tailTipX, l.tailTipY);
  cairo_curve_to(cr, l.tailTipX + (l.tailRoot1 - l.tailTipX) * 0.5, l.tailTipY - drop * 0.15, l.tailRoot1,
                 l.bottom + drop * 0.2, l.tailRoot1, anchor);
  cairo_close_path(cr);
  cairo_fill(cr);

  SetColour(cr, kBlue);
  cairo_rectangle(cr, l.barLeft, l.barTop, l.barRight - l.barLeft, l.barBottom - l.barTop);
  cairo_rectangle(cr, l.stemLeft, l.barBottom, l.stemRight - l.stemLeft, l.stemBottom - l.barBottom);
  cairo_fill(cr);
}

bool WriteIcon(const std::filesystem::path& folder, int size) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  Draw(cr, size);
  const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  const std::string file = (folder / ("talvek-" + std::to_string(size) + ".png")).string();
  const bool written = drawn && cairo_surface_write_to_png(surface, file.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  if (!written) std::fprintf(stderr, "talvek-icon-gen: cannot write %s\n", file.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: talvek-icon-gen OUT_DIR SIZE...\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "talvek-icon-gen: cannot create %s: %s\n", argv[1], error.message().c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const long size = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || size < 16 || size > 1024) {
      std::fprintf(stderr, "talvek-icon-gen: bad size '%s' (16 to 1024)\n", argv[i]);
      return 2;
    }
    if (!WriteIcon(folder, static_cast<int>(size))) return 1;
  }
  cairo_debug_reset_static_data();
  return 0;
}
