// From a commit to a drawn frame, as the window does it: 2,000 text rows
// laid out with real fonts (Pango), the mount operations applied to the
// mounted tree and the whole surface painted with cairo into an image the
// size of the window; then one changed prop to the redrawn frame (damaged
// area only); and the process's memory with 10,000 rows mounted.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "bench/paint_support.h"
#include "platform/pango_text.h"
#include "render/mounted_tree.h"
#include "render/shadow_node.h"
#include "render/surface_tree.h"

namespace VirelantDesktop::render {
namespace {

constexpr Tag kRoot = 1;

std::vector<ShadowNodePtr> MakeRows(int count, const std::string& colourKey = "", int changed = -1) {
  std::vector<ShadowNodePtr> rows;
  Tag tag = 2;
  for (int i = 0; i < count; ++i) {
    const Tag rowTag = tag, textTag = tag + 2, rawTag = tag + 4;
    tag += 6;
    auto raw = MakeShadowNode(rawTag, "RCTRawText", kRoot, Props{{"text", "Row number " + std::to_string(i)}}, nullptr);
    auto text = MakeShadowNode(textTag, "RCTText", kRoot, Props{{"color", 4278190080u}, {"fontSize", 14}}, nullptr);
    const std::vector<ShadowNodePtr> textKids{raw};
    text = CloneShadowNode(*text, nullptr, &textKids);
    Props rowProps{{"flexDirection", "row"}, {"padding", 8}, {"backgroundColor", 4294967295u}};
    if (i == changed) rowProps["backgroundColor"] = 4294901760u;
    (void)colourKey;
    auto row = MakeShadowNode(rowTag, "RCTView", kRoot, rowProps, nullptr);
    const std::vector<ShadowNodePtr> kids{text};
    rows.push_back(CloneShadowNode(*row, nullptr, &kids));
  }
  return rows;
}

LayoutConstraints Window() {
  LayoutConstraints c;
  c.size = {1000, 720};
  c.pointScale = 1;
  return c;
}

void Paint(const MountedTree& tree, cairo_surface_t* surface, std::optional<Rect> clip) {
  bench::PaintInto(tree, kRoot, surface, clip);
}

double Ms(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

void BM_MountToFirstFrame(benchmark::State& state) {
  auto measurer = std::make_shared<platform::PangoTextMeasurer>();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 720);
  const auto rows = MakeRows(2000);
  double ms = 0;
  for (auto _ : state) {
    SurfaceTree shadow(kRoot, measurer);
    shadow.SetConstraints(Window());
    MountedTree mounted;
    const auto start = std::chrono::steady_clock::now();
    mounted.Apply(shadow.Commit(rows, nullptr));
    mounted.TakeDamage();
    // As the window draws: clipped to its area (rows below it are not painted).
    Paint(mounted, surface, Rect{0, 0, 1000, 720});
    ms = Ms(start);
  }
  cairo_surface_destroy(surface);
  state.counters["ms"] = ms;
  state.SetLabel("2,000 text rows: completeRoot (Pango layout, diff) + mount + full frame; goal <= 50 ms");
}
BENCHMARK(BM_MountToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OnePropToFrame(benchmark::State& state) {
  auto measurer = std::make_shared<platform::PangoTextMeasurer>();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 720);
  const auto rows = MakeRows(2000);
  SurfaceTree shadow(kRoot, measurer);
  shadow.SetConstraints(Window());
  MountedTree mounted;
  mounted.Apply(shadow.Commit(rows, nullptr));
  mounted.TakeDamage();
  Paint(mounted, surface, std::nullopt);
  // Row 5 toggles its colour: a clone of that row with the new prop.
  const Props red{{"backgroundColor", 4294901760u}};
  const Props white{{"backgroundColor", 4294967295u}};
  std::vector<ShadowNodePtr> current = rows;
  bool toggle = false;
  double ms = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    current[5] = CloneShadowNode(*current[5], toggle ? &white : &red, nullptr);
    toggle = !toggle;
    mounted.Apply(shadow.Commit(current, nullptr));
    for (const Rect& damage : mounted.TakeDamage()) Paint(mounted, surface, damage);
    ms = Ms(start);
  }
  cairo_surface_destroy(surface);
  state.counters["ms"] = ms;
  state.SetLabel("one backgroundColor in 2,000 rows: clone + commit + mount + damaged repaint; goal <= 4 ms");
}
BENCHMARK(BM_OnePropToFrame)->Unit(benchmark::kMicrosecond);

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_TenThousandRowsMemory(benchmark::State& state) {
  auto measurer = std::make_shared<platform::PangoTextMeasurer>();
  for (auto _ : state) {
    const long before = ResidentKb();
    auto shadow = std::make_unique<SurfaceTree>(kRoot, measurer);
    shadow->SetConstraints(Window());
    auto mounted = std::make_unique<MountedTree>();
    mounted->Apply(shadow->Commit(MakeRows(10000), nullptr));
    const long after = ResidentKb();
    state.counters["process_MB"] = static_cast<double>(after) / 1024.0;
    state.counters["bytes_per_view"] = static_cast<double>(after - before) * 1024.0 / 20000.0;
    benchmark::DoNotOptimize(mounted->ViewCount());
  }
  state.SetLabel("10,000 text rows mounted (20,000 views): whole-process resident MB (goal < 100) and bytes per view");
}
BENCHMARK(BM_TenThousandRowsMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace VirelantDesktop::render

BENCHMARK_MAIN();
