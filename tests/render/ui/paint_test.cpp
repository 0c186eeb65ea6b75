// Painting mounted trees onto cairo image surfaces and reading pixels back.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "platform/cairo_canvas.h"
#include "platform/pango_text.h"
#include "render/components/tree_painter.h"
#include "tests/render/ui/tree_builder.h"

namespace VirelantDesktop::render {
namespace {

using testing::Model;
using testing::TransactionBuilder;

constexpr Tag kRoot = 1;
constexpr Color kRed{255, 255, 0, 0};
constexpr Color kBlue{255, 0, 0, 255};

struct Pixel {
  int a, r, g, b;  // premultiplied
};

class Surface {
 public:
  Surface(int w, int h) : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)) {}
  ~Surface() { cairo_surface_destroy(surface_); }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  void Paint(const MountedTree& tree, float scale, PaintOptions options = {}) {
    cairo_t* cr = cairo_create(surface_);
    {
      platform::CairoCanvas canvas(cr, scale, 1);
      options.pointScale = scale;
      PaintSurface(tree, kRoot, canvas, options);
    }
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
  }
  Pixel At(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    uint32_t v;
    std::memcpy(&v, data + y * cairo_image_surface_get_stride(surface_) + x * 4, 4);
    return {static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255),
            static_cast<int>(v & 255)};
  }
  int Width() const { return cairo_image_surface_get_width(surface_); }
  int Height() const { return cairo_image_surface_get_height(surface_); }

 private:
  cairo_surface_t* surface_;
};

bool IsRed(Pixel p) { return p.a == 255 && p.r == 255 && p.g == 0 && p.b == 0; }
bool IsBlue(Pixel p) { return p.a == 255 && p.b == 255 && p.r == 0; }

ViewModelPtr Filled(Color color, ViewStyle style = {}) {
  style.backgroundColor = color;
  return Model(style);
}

TEST(PaintTest, ViewBackgroundLandsOnDevicePixelsAtTheScale) {
  MountedTree tree;
  tree.Apply(TransactionBuilder(kRoot, {200, 100}, 2).Add(2, kRoot, {10, 10, 100, 50}, Filled(kRed)).Get());
  Surface s(400, 200);
  s.Paint(tree, 2);
  EXPECT_TRUE(IsRed(s.At(30, 30)));
  EXPECT_TRUE(IsRed(s.At(219, 119)));
  EXPECT_EQ(s.At(5, 5).a, 0);
  EXPECT_EQ(s.At(221, 30).a, 0);
}

TEST(PaintTest, RoundedCornersBordersAndGroupOpacity) {
  ViewStyle round;
  round.borderRadius = {30, 30, 30, 30};
  ViewStyle half;
  half.opacity = 0.5f;
  ViewStyle topBorder;
  topBorder.borderWidth.top = 4;
  topBorder.borderColor.top = kRed;
  topBorder.borderColor.left = kBlue;
  topBorder.borderWidth.left = 2;
  MountedTree tree;
  TransactionBuilder t(kRoot, {300, 100});
  t.Add(2, kRoot, {0, 0, 100, 100}, Filled(kRed, round));
  t.Add(3, kRoot, {100, 0, 100, 100}, Filled(kRed, half));
  t.Add(4, 3, {0, 0, 50, 50}, Filled(kRed));  // overlaps its half-transparent parent
  t.Add(5, kRoot, {200, 0, 100, 100}, Model(topBorder));
  tree.Apply(t.Get());
  Surface s(300, 100);
  s.Paint(tree, 1);

  EXPECT_EQ(s.At(1, 1).a, 0);  // outside the rounded corner
  EXPECT_TRUE(IsRed(s.At(50, 50)));
  EXPECT_TRUE(IsRed(s.At(50, 1)));
  // The group is composited once: the overlap is as transparent as the rest.
  EXPECT_NEAR(s.At(175, 75).a, 128, 2);
  EXPECT_NEAR(s.At(125, 25).a, 128, 2);
  EXPECT_TRUE(IsRed(s.At(250, 1)));    // top edge
  EXPECT_TRUE(IsBlue(s.At(200, 50)));  // left edge, its own colour
  EXPECT_EQ(s.At(250, 50).a, 0);       // inside the border
  EXPECT_EQ(s.At(298, 50).a, 0);       // no right border
}

TEST(PaintTest, OverflowHiddenClipsChildrenAndTransformsApply) {
  ViewStyle clip;
  clip.overflowHidden = true;
  ViewStyle moved;
  moved.transform.tx = 100;
  MountedTree tree;
  TransactionBuilder t(kRoot, {300, 100});
  t.Add(2, kRoot, {0, 0, 50, 50}, Model(clip)).Add(3, 2, {25, 25, 50, 50}, Filled(kBlue));
  t.Add(4, kRoot, {100, 0, 50, 50}).Add(5, 4, {25, 25, 50, 50}, Filled(kBlue));
  t.Add(6, kRoot, {0, 60, 20, 20}, Filled(kRed, moved));
  tree.Apply(t.Get());
  Surface s(300, 100);
  s.Paint(tree, 1);
  EXPECT_TRUE(IsBlue(s.At(40, 40)));
  EXPECT_EQ(s.At(60, 60).a, 0);        // clipped
  EXPECT_TRUE(IsBlue(s.At(160, 60)));  // the same without the clip
  EXPECT_EQ(s.At(10, 70).a, 0);        // translated away
  EXPECT_TRUE(IsRed(s.At(110, 70)));
}

TEST(PaintTest, DamageClipPaintsOnlyInsideIt) {
  MountedTree tree;
  TransactionBuilder t(kRoot, {200, 100});
  t.Add(2, kRoot, {0, 0, 50, 50}, Filled(kRed)).Add(3, kRoot, {100, 0, 50, 50}, Filled(kRed));
  tree.Apply(t.Get());
  Surface s(200, 100);
  PaintOptions options;
  options.clip = Rect{0, 0, 60, 100};
  s.Paint(tree, 1, options);
  EXPECT_TRUE(IsRed(s.At(10, 10)));
  EXPECT_EQ(s.At(110, 10).a, 0);
}

std::shared_ptr<const AttributedText> Text(const std::string& s, float size = 16) {
  auto text = std::make_shared<AttributedText>();
  TextFragment fragment;
  fragment.text = s;
  fragment.attributes.fontSize = size;
  text->fragments.push_back(fragment);
  return text;
}

TEST(PaintTest, ParagraphDrawsDarkPixelsInsideItsFrameOnly) {
  auto model = std::make_shared<ViewModel>(*Model({}, ViewKind::Paragraph, "RCTParagraph"));
  model->text = Text("Hello world, hello world, hello world");
  MountedTree tree;
  tree.Apply(TransactionBuilder(kRoot, {200, 100}).Add(2, kRoot, {10, 10, 150, 40}, model).Get());
  Surface s(200, 100);
  s.Paint(tree, 1);
  int inside = 0, outside = 0;
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      const bool dark = s.At(x, y).a > 128;
      const bool in = x >= 10 && x < 160 && y >= 10 && y < 50;
      (in ? inside : outside) += dark ? 1 : 0;
    }
  }
  EXPECT_GT(inside, 30);
  EXPECT_EQ(outside, 0);
}

TEST(PaintTest, UnknownComponentDrawsItsPlaceholder) {
  MountedTree tree;
  tree.Apply(TransactionBuilder(kRoot, {200, 100})
                 .Add(2, kRoot, {0, 0, 120, 40}, Model({}, ViewKind::Unknown, "FancyChart"))
                 .Add(3, kRoot, {0, 50, 120, 40}, Model({}, ViewKind::Native, "NativeThing"))
                 .Get());
  Surface s(200, 100);
  s.Paint(tree, 1);
  const Pixel fill = s.At(110, 30);
  EXPECT_EQ(fill.a, 255);
  EXPECT_GT(fill.r, 200);
  EXPECT_GT(fill.b, 200);
  EXPECT_LT(fill.g, fill.r);
  EXPECT_EQ(s.At(60, 70).a, 0);  // a native view draws nothing
}

// A solid image of the given pixel size.
std::shared_ptr<const platform::CairoImage> SolidImage(int w, int h, double r, double g, double b) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, r, g, b);
  cairo_paint(cr);
  cairo_destroy(cr);
  return std::make_shared<const platform::CairoImage>(surface);
}

TEST(PaintTest, ImageContainKeepsItsAspectRatio) {
  auto model = std::make_shared<ViewModel>(*Model({}, ViewKind::Image, "RCTImageView"));
  model->image.sources.push_back({"file:///wide.png", 0, 0, 1});
  model->image.resizeMode = ResizeMode::Contain;
  MountedTree tree;
  tree.Apply(TransactionBuilder(kRoot, {100, 100}).Add(2, kRoot, {0, 0, 100, 100}, model).Get());
  auto wide = SolidImage(200, 100, 0, 0, 1);
  PaintOptions options;
  options.images = [&wide](const ImageSource& source) -> CanvasImagePtr {
    return source.uri == "file:///wide.png" ? wide : nullptr;
  };
  Surface s(100, 100);
  s.Paint(tree, 1, options);
  EXPECT_EQ(s.At(50, 10).a, 0);
  EXPECT_TRUE(IsBlue(s.At(50, 30)));
  EXPECT_TRUE(IsBlue(s.At(1, 50)));
  EXPECT_TRUE(IsBlue(s.At(50, 70)));
  EXPECT_EQ(s.At(50, 90).a, 0);
}

TEST(PaintTest, BlurRadiusSoftensAnImagesEdgesOnly) {
  // Left half red, right half blue; blurred the seam mixes, the far sides do not.
  cairo_surface_t* halves = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 50);
  cairo_t* cr = cairo_create(halves);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0, 0, 1);
  cairo_rectangle(cr, 50, 0, 50, 50);
  cairo_fill(cr);
  cairo_destroy(cr);
  auto image = std::make_shared<const platform::CairoImage>(halves);
  for (float blur : {0.0f, 6.0f}) {
    SCOPED_TRACE(blur);
    auto model = std::make_shared<ViewModel>(*Model({}, ViewKind::Image, "RCTImageView"));
    model->image.sources.push_back({"file:///halves.png", 0, 0, 1});
    model->image.resizeMode = ResizeMode::Stretch;
    model->image.blurRadius = blur;
    MountedTree tree;
    tree.Apply(TransactionBuilder(kRoot, {100, 50}).Add(2, kRoot, {0, 0, 100, 50}, model).Get());
    PaintOptions options;
    options.images = [&image](const ImageSource&) -> CanvasImagePtr { return image; };
    Surface s(100, 50);
    s.Paint(tree, 1, options);
    EXPECT_TRUE(IsRed(s.At(5, 25)));
    EXPECT_TRUE(IsBlue(s.At(95, 25)));
    EXPECT_EQ(s.At(5, 0).a, 255) << "the edges stay opaque";
    const Pixel seam = s.At(49, 25);
    if (blur == 0) {
      EXPECT_TRUE(IsRed(seam));
    } else {
      EXPECT_GT(seam.b, 60);
      EXPECT_GT(seam.r, 60);
    }
  }
  // The blurred copy is made once per radius and kept.
  EXPECT_EQ(image->Blurred(6), image->Blurred(6));
}

TEST(ImageGeometryTest, ResizeModesAndSourcePicking) {
  const Rect box{0, 0, 100, 100};
  EXPECT_EQ(ImageDestination({200, 100}, box, ResizeMode::Cover), (Rect{-50, 0, 200, 100}));
  EXPECT_EQ(ImageDestination({20, 10}, box, ResizeMode::Center), (Rect{40, 45, 20, 10}));
  EXPECT_EQ(ImageDestination({400, 100}, box, ResizeMode::Center), (Rect{0, 37.5f, 100, 25}));
  EXPECT_EQ(ImageDestination({0, 10}, box, ResizeMode::Stretch), (Rect{}));

  ImageProps props;
  props.sources = {{"small", 50, 50, 1}, {"large", 400, 400, 1}, {"medium", 120, 120, 1}};
  EXPECT_EQ(PickImageSource(props, {100, 100}, 1)->uri, "medium");
  EXPECT_EQ(PickImageSource(props, {100, 100}, 2)->uri, "large");
  EXPECT_EQ(PickImageSource(props, {500, 500}, 1)->uri, "large");
  EXPECT_EQ(PickImageSource(ImageProps{}, {1, 1}, 1), nullptr);
}

TEST(PangoTextTest, MeasureWrapsLimitsLinesAndAgreesAcrossThreads) {
  platform::PangoTextMeasurer measurer;
  AttributedText shortText = *Text("Hi");
  AttributedText longText = *Text("The quick brown fox jumps over the lazy dog again and again");
  ParagraphAttributes plain;
  const Size one = measurer.Measure(shortText, plain, kUnbounded, 1, 1);
  const Size line = measurer.Measure(longText, plain, kUnbounded, 1, 1);
  EXPECT_GT(one.width, 0);
  EXPECT_GT(line.width, one.width);
  EXPECT_FLOAT_EQ(line.height, one.height);

  const Size wrapped = measurer.Measure(longText, plain, 100, 1, 1);
  EXPECT_LE(wrapped.width, 100);
  EXPECT_GT(wrapped.height, 2 * one.height);

  ParagraphAttributes twoLines;
  twoLines.numberOfLines = 2;
  const Size limited = measurer.Measure(longText, twoLines, 100, 1, 1);
  EXPECT_NEAR(limited.height, 2 * one.height, 1);
  AttributedText paragraphs = *Text("one\ntwo\nthree\nfour");
  EXPECT_NEAR(measurer.Measure(paragraphs, twoLines, kUnbounded, 1, 1).height, 2 * one.height, 1);

  // Whole device pixels: at scale 2 the size is a multiple of 0.5.
  const Size scaled = measurer.Measure(longText, plain, kUnbounded, 2, 1);
  EXPECT_FLOAT_EQ(scaled.width * 2, std::round(scaled.width * 2));
  EXPECT_GT(measurer.Measure(shortText, plain, kUnbounded, 1, 2).height, one.height * 1.5f);

  Size fromOther;
  std::thread other([&] { fromOther = measurer.Measure(longText, plain, 100, 1, 1); });
  other.join();
  EXPECT_EQ(fromOther, wrapped);
  EXPECT_EQ(measurer.Measure(AttributedText{}, plain, 100, 1, 1), (Size{}));
  // Invalid UTF-8 is drawn with replacements, not refused.
  EXPECT_GT(measurer.Measure(*Text("bad \xff\xfe bytes"), plain, kUnbounded, 1, 1).width, 0);
}

}  // namespace
}  // namespace VirelantDesktop::render
