// The render core's commit on a list of 2,000 rows (a View holding a Text
// holding its raw text), with a stand-in text measurer: a commit from
// scratch, a one-prop update, Yoga layout alone, and memory per node.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "render/shadow_node.h"
#include "render/surface_tree.h"
#include "render/text_measurer.h"

namespace VirelantDesktop::render {
namespace {

constexpr Tag kRoot = 1;

class FixedMeasurer : public TextMeasurer {
 public:
  Size Measure(const AttributedText& text, const ParagraphAttributes&, float maxWidth, float, float) const override {
    float width = 0;
    for (const TextFragment& f : text.fragments) width += static_cast<float>(f.text.size()) * 7.0f;
    return {std::min(width, maxWidth), 20};
  }
};

struct Rows {
  std::vector<ShadowNodePtr> rows;
  std::vector<ShadowNodePtr> rawTexts;
};

// Tags 2.. in steps of 2, as the renderer hands them out.
Rows MakeRows(int count, Tag firstTag = 2) {
  Rows out;
  Tag tag = firstTag;
  for (int i = 0; i < count; ++i) {
    const Tag rowTag = tag, textTag = tag + 2, rawTag = tag + 4;
    tag += 6;
    auto raw = MakeShadowNode(rawTag, "RCTRawText", kRoot, Props{{"text", "Row number " + std::to_string(i)}}, nullptr);
    auto text = MakeShadowNode(textTag, "RCTParagraph", kRoot, Props{{"color", 4278190080u}, {"fontSize", 14}}, nullptr);
    const std::vector<ShadowNodePtr> textKids{raw};
    text = CloneShadowNode(*text, nullptr, &textKids);
    auto row = MakeShadowNode(rowTag, "RCTView", kRoot,
                              Props{{"flexDirection", "row"}, {"padding", 8}, {"backgroundColor", 4294967295u},
                                    {"testID", "row" + std::to_string(i)}},
                              nullptr);
    const std::vector<ShadowNodePtr> kids{text};
    out.rows.push_back(CloneShadowNode(*row, nullptr, &kids));
    out.rawTexts.push_back(raw);
  }
  return out;
}

LayoutConstraints Viewport() {
  LayoutConstraints c;
  c.size = {800, 600};
  c.pointScale = 1.5f;
  return c;
}

void BM_CommitFromScratch(benchmark::State& state) {
  const Rows rows = MakeRows(2000);
  double ms = 0;
  for (auto _ : state) {
    SurfaceTree tree(kRoot, std::make_shared<FixedMeasurer>());
    tree.SetConstraints(Viewport());
    const auto start = std::chrono::steady_clock::now();
    const MountTransaction tx = tree.Commit(rows.rows, nullptr);
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(tx.ops.size());
  }
  state.counters["ms"] = ms;
  state.SetLabel("2,000 rows (6,000 shadow nodes), shadow nodes prebuilt");
}
BENCHMARK(BM_CommitFromScratch)->Unit(benchmark::kMillisecond);

void BM_CreateNodesAndCommit(benchmark::State& state) {
  for (auto _ : state) {
    const Rows rows = MakeRows(2000);
    SurfaceTree tree(kRoot, std::make_shared<FixedMeasurer>());
    tree.SetConstraints(Viewport());
    benchmark::DoNotOptimize(tree.Commit(rows.rows, nullptr).ops.size());
  }
  state.SetLabel("2,000 rows: MakeShadowNode for each node, then the commit");
}
BENCHMARK(BM_CreateNodesAndCommit)->Unit(benchmark::kMillisecond);

void BM_OnePropUpdate(benchmark::State& state) {
  Rows rows = MakeRows(2000);
  SurfaceTree tree(kRoot, std::make_shared<FixedMeasurer>());
  tree.SetConstraints(Viewport());
  tree.Commit(rows.rows, nullptr);
  uint32_t colour = 0xff000000u;
  for (auto _ : state) {
    const Props diff{{"backgroundColor", ++colour}};
    std::vector<ShadowNodePtr> next = rows.rows;
    next[1000] = CloneShadowNode(*rows.rows[1000], &diff, nullptr);
    const MountTransaction tx = tree.Commit(next, nullptr);
    benchmark::DoNotOptimize(tx.ops.size());
    rows.rows = std::move(next);
  }
  state.SetLabel("backgroundColor of row 1,000 (clone + commit + layout)");
}
BENCHMARK(BM_OnePropUpdate)->Unit(benchmark::kMicrosecond);

void BM_OneTextUpdate(benchmark::State& state) {
  Rows rows = MakeRows(2000);
  SurfaceTree tree(kRoot, std::make_shared<FixedMeasurer>());
  tree.SetConstraints(Viewport());
  tree.Commit(rows.rows, nullptr);
  int n = 0;
  for (auto _ : state) {
    const Props diff{{"text", "Changed " + std::to_string(++n)}};
    auto raw = CloneShadowNode(*rows.rawTexts[1000], &diff, nullptr);
    const auto& row = rows.rows[1000];
    const std::vector<ShadowNodePtr> textKids{raw};
    auto text = CloneShadowNode(*row->children[0], nullptr, &textKids);
    const std::vector<ShadowNodePtr> rowKids{text};
    std::vector<ShadowNodePtr> next = rows.rows;
    next[1000] = CloneShadowNode(*row, nullptr, &rowKids);
    benchmark::DoNotOptimize(tree.Commit(next, nullptr).ops.size());
    rows.rows = std::move(next);
    rows.rawTexts[1000] = raw;
  }
  state.SetLabel("raw text of row 1,000 (re-measure + layout)");
}
BENCHMARK(BM_OneTextUpdate)->Unit(benchmark::kMicrosecond);

void BM_LayoutAlone(benchmark::State& state) {
  const Rows rows = MakeRows(2000);
  SurfaceTree tree(kRoot, std::make_shared<FixedMeasurer>());
  tree.SetConstraints(Viewport());
  tree.Commit(rows.rows, nullptr);
  float width = 800;
  for (auto _ : state) {
    // Alternate widths so that every pass lays out the whole tree.
    width = width == 800 ? 801 : 800;
    LayoutConstraints c = Viewport();
    c.size.width = width;
    tree.SetConstraints(c);
    benchmark::DoNotOptimize(tree.Relayout().ops.size());
  }
  state.SetLabel("Relayout of 2,000 rows after a width change (all frames change)");
}
BENCHMARK(BM_LayoutAlone)->Unit(benchmark::kMillisecond);

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_MemoryPerNode(benchmark::State& state) {
  constexpr int kRows = 10000;
  double bytesPerRow = 0;
  for (auto _ : state) {
    const long before = ResidentKiB();
    {
      auto tree = std::make_unique<SurfaceTree>(kRoot, std::make_shared<FixedMeasurer>());
      tree->SetConstraints(Viewport());
      Rows rows = MakeRows(kRows);
      tree->Commit(rows.rows, nullptr);
      const long after = ResidentKiB();
      bytesPerRow = static_cast<double>(after - before) * 1024.0 / kRows;
      benchmark::DoNotOptimize(tree->NodeCount());
    }
  }
  state.counters["bytes_per_row"] = bytesPerRow;
  // A row is two committed views (the View and the Text) and three shadow nodes.
  state.counters["bytes_per_committed_node"] = bytesPerRow / 2;
  state.SetLabel("RSS growth over 10,000 rows, shadow nodes included");
}
BENCHMARK(BM_MemoryPerNode)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace VirelantDesktop::render

int main(int argc, char** argv) {
  return VirelantDesktop::bench::RunRegisteredBenchmarks(argc, argv) ? 0 : 1;
}
