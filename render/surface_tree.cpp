#include "render/surface_tree.h"

#include <yoga/Yoga.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <set>
#include <unordered_map>

#include "render/color.h"
#include "render/text_input.h"
#include "render/view_props.h"
#include "render/yoga_style.h"

namespace VirelantDesktop::render {
namespace {

// Commit warnings beyond this many lines are summed up in one.
constexpr size_t kMaxWarningLines = 50;
// Text nodes one paragraph may visit: a shared span reused many times over
// would otherwise multiply without bound.
constexpr size_t kMaxTextNodesPerParagraph = 200000;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

ViewModelPtr RootModel() {
  static const ViewModelPtr model = [] {
    auto m = std::make_shared<ViewModel>();
    m->componentName = "RootView";
    m->kind = ViewKind::View;
    return m;
  }();
  return model;
}

// Indices (into `sequence`) of one longest strictly increasing run of the
// non-negative values.
std::vector<bool> LongestIncreasing(const std::vector<int>& sequence) {
  std::vector<int> tails;     // indices into sequence
  std::vector<int> previous(sequence.size(), -1);
  for (size_t i = 0; i < sequence.size(); ++i) {
    if (sequence[i] < 0) continue;
    const auto pos = std::lower_bound(tails.begin(), tails.end(), sequence[i],
                                      [&](int index, int value) { return sequence[index] < value; });
    if (pos != tails.begin()) previous[i] = *(pos - 1);
    if (pos == tails.end()) tails.push_back(static_cast<int>(i));
    else *pos = static_cast<int>(i);
  }
  std::vector<bool> kept(sequence.size(), false);
  for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = previous[i]) kept[i] = true;
  return kept;
}

}  // namespace

struct SurfaceTree::State {
  struct Entry {
    Tag tag = 0;
    YGNodeRef yoga = nullptr;
    ShadowNodePtr node;  // last committed; null for the root
    ViewModelPtr model;  // committed (a paragraph's carries its text)
    std::shared_ptr<const AttributedText> text;
    Tag parent = 0;
    std::vector<Tag> children;  // committed mounted children
    LayoutMetrics metrics;
    uint64_t seen = 0;     // stamp of the last commit that reached it
    uint64_t created = 0;  // stamp of the commit that created it
    bool measured = false;
    // Text inputs: the text the user typed, as the field last reported it
    // (it, not the props, is what the field shows).
    std::optional<std::string> nativeText;
    State* state = nullptr;
  };

  struct ChildChange {
    Entry* parent;
    std::vector<Tag> before;
  };

  Tag rootTag;
  std::shared_ptr<const TextMeasurer> measurer;
  LayoutConstraints constraints;
  YGConfigRef config;
  std::unique_ptr<YogaStyler> styler;
  std::unordered_map<Tag, Entry> entries;
  Entry* root = nullptr;
  int64_t commitNumber = 0;
  uint64_t stamp = 0;
  bool rootMounted = false;
  bool rescanAllLayout = false;
  // What the last layout ran with (laidOut: one ran and finished).
  bool laidOut = false;
  float laidOutScale = 0;
  YGDirection laidOutDirection = YGDirectionLTR;
  std::set<std::string> warnedComponents;

  // Per-commit scratch.
  std::vector<std::string>* warnings = nullptr;
  size_t warningLines = 0;
  size_t warningsDropped = 0;
  bool tooDeep = false;
  bool textOutside = false;
  bool viewInText = false;
  std::vector<Entry*> createdList;
  std::vector<Entry*> propsChanged;
  std::vector<ChildChange> childChanges;

  State(Tag tag, std::shared_ptr<const TextMeasurer> textMeasurer)
      : rootTag(tag), measurer(std::move(textMeasurer)), config(YGConfigNew()) {
    YGConfigSetPointScaleFactor(config, 1.0f);
    styler = std::make_unique<YogaStyler>(config);
    root = &entries[rootTag];
    root->tag = rootTag;
    root->yoga = YGNodeNewWithConfig(config);
    root->model = RootModel();
    root->state = this;
    YGNodeSetContext(root->yoga, root);
    ApplyRootSize();
  }

  ~State() {
    for (auto& [tag, entry] : entries) YGNodeRemoveAllChildren(entry.yoga);
    for (auto& [tag, entry] : entries) YGNodeFree(entry.yoga);
    styler.reset();
    YGConfigFree(config);
  }

  void Warn(std::string line) {
    if (!warnings) return;
    if (warningLines >= kMaxWarningLines) {
      ++warningsDropped;
      return;
    }
    ++warningLines;
    warnings->push_back(std::move(line));
  }

  void ApplyRootSize() {
    auto dimension = [](float v) { return std::isfinite(v) && v >= 0 ? std::min(v, 1e7f) : 0.0f; };
    YGNodeStyleSetWidth(root->yoga, dimension(constraints.size.width));
    YGNodeStyleSetHeight(root->yoga, dimension(constraints.size.height));
  }

  static YGSize Measure(YGNodeConstRef node, float width, YGMeasureMode widthMode, float height,
                        YGMeasureMode heightMode) {
    const auto* entry = static_cast<const Entry*>(YGNodeGetContext(node));
    YGSize out{0, 0};
    if (!entry || !entry->text || entry->text->Empty() || !entry->state->measurer || !entry->model) return out;
    const State& state = *entry->state;
    const float maxWidth = widthMode == YGMeasureModeUndefined || !std::isfinite(width) ? kUnbounded : width;
    Size size;
    try {
      size = state.measurer->Measure(*entry->text, entry->model->paragraph, maxWidth, state.PointScale(),
                                     state.FontScale());
    } catch (...) {
      size = {};
    }
    out.width = std::isfinite(size.width) && size.width > 0 ? size.width : 0;
    out.height = std::isfinite(size.height) && size.height > 0 ? size.height : 0;
    if (widthMode == YGMeasureModeExactly) out.width = width;
    else if (widthMode == YGMeasureModeAtMost) out.width = std::min(out.width, width);
    if (heightMode == YGMeasureModeExactly) out.height = height;
    else if (heightMode == YGMeasureModeAtMost) out.height = std::min(out.height, height);
    return out;
  }

  float PointScale() const {
    return std::isfinite(constraints.pointScale) && constraints.pointScale > 0 ? constraints.pointScale : 1.0f;
  }
  float FontScale() const {
    return std::isfinite(constraints.fontScale) && constraints.fontScale > 0 ? constraints.fontScale : 1.0f;
  }

  Entry* Lookup(Tag tag) {
    const auto it = entries.find(tag);
    return it == entries.end() ? nullptr : &it->second;
  }
  const Entry* Lookup(Tag tag) const {
    const auto it = entries.find(tag);
    return it == entries.end() ? nullptr : &it->second;
  }

  Entry* CreateEntry(Tag tag) {
    Entry& entry = entries[tag];
    entry.tag = tag;
    entry.yoga = YGNodeNewWithConfig(config);
    entry.state = this;
    entry.created = stamp;
    YGNodeSetContext(entry.yoga, &entry);
    createdList.push_back(&entry);
    return &entry;
  }

  // ---- the walk over the new tree ----

  void VisitChildren(Entry* parent, const std::vector<ShadowNodePtr>& kids, int depth) {
    const std::vector<Tag>& before = parent->children;
    // Reserved now so that a parent's inserts come before its children's.
    const size_t changeSlot = childChanges.size();
    childChanges.push_back({nullptr, {}});
    std::vector<Tag> after;
    bool differs = false;
    size_t accepted = 0;
    for (const ShadowNodePtr& kid : kids) {
      if (!kid) continue;
      if (kid->role != NodeRole::Mounted) {
        if (!textOutside) Warn("Text strings must be inside a Text component (dropped " + kid->componentName + ")");
        textOutside = true;
        continue;
      }
      if (kid->tag == rootTag) {
        Warn("The surface's root (tag " + std::to_string(rootTag) + ") used as a child: dropped");
        continue;
      }
      if (depth + 1 > kMaxTreeDepth) {
        if (!tooDeep) Warn("View tree deeper than " + std::to_string(kMaxTreeDepth) + " levels: deeper views dropped");
        tooDeep = true;
        continue;
      }
      Entry* entry = Lookup(kid->tag);
      if (entry && entry->seen == stamp) {
        Warn("Tag " + std::to_string(kid->tag) + " (" + kid->componentName +
             ") appears twice in the tree: the second is dropped");
        continue;
      }
      if (!entry) entry = CreateEntry(kid->tag);
      entry->seen = stamp;
      if (!differs && (accepted >= before.size() || before[accepted] != kid->tag)) {
        differs = true;
        after.assign(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(accepted));
      }
      if (differs) after.push_back(kid->tag);
      ++accepted;
      VisitNode(entry, kid, depth + 1, parent->tag);
    }
    if (!differs && accepted != before.size()) {
      differs = true;
      after.assign(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(accepted));
    }
    if (differs) SetChildren(parent, std::move(after), changeSlot);
  }

  // Records the change in childChanges[slot] (appended when slot is past
  // the end) and re-links the Yoga children.
  void SetChildren(Entry* parent, std::vector<Tag> after, size_t slot) {
    if (slot >= childChanges.size()) childChanges.push_back({nullptr, {}});
    slot = std::min(slot, childChanges.size() - 1);
    childChanges[slot] = {parent, std::move(parent->children)};
    parent->children = std::move(after);
    YGNodeRemoveAllChildren(parent->yoga);
    size_t index = 0;
    for (Tag tag : parent->children) {
      Entry* child = Lookup(tag);
      if (YGNodeRef owner = YGNodeGetOwner(child->yoga)) YGNodeRemoveChild(owner, child->yoga);
      YGNodeInsertChild(parent->yoga, child->yoga, index++);
    }
  }

  void VisitNode(Entry* entry, const ShadowNodePtr& node, int depth, Tag parentTag) {
    entry->parent = parentTag;
    const ShadowNode* old = entry->node.get();
    // Paragraphs and text inputs are measured leaves: Yoga asks them their
    // size and lays out nothing inside them.
    const bool textInput = IsTextInputComponent(node->componentName);
    if (old == node.get()) {
      if (node->kind != ViewKind::Paragraph && !textInput) VisitChildren(entry, node->children, depth);
      return;
    }
    const bool isNew = old == nullptr;
    const bool paragraph = node->kind == ViewKind::Paragraph;
    const bool measuredLeaf = paragraph || textInput;
    if (measuredLeaf != entry->measured) {
      if (measuredLeaf) {
        if (!entry->children.empty()) SetChildren(entry, {}, childChanges.size());
        YGNodeSetMeasureFunc(entry->yoga, &State::Measure);
      } else {
        YGNodeSetMeasureFunc(entry->yoga, nullptr);
        entry->text.reset();
      }
      entry->measured = measuredLeaf;
    }
    // A node made afresh with the same props (not cloned) keeps its model.
    const bool modelChanged = isNew || (old->model != node->model && (old->componentName != node->componentName ||
                                                                      old->kind != node->kind || old->props != node->props));
    if (modelChanged) styler->Apply(entry->yoga, node->props);
    if (node->kind == ViewKind::Unknown && warnedComponents.insert(node->componentName).second) {
      Warn("Unimplemented component: " + node->componentName);
    }

    bool textChanged = false;
    if (paragraph) {
      auto text = BuildText(*node, depth);
      if (!entry->text || *entry->text != *text) {
        entry->text = std::move(text);
        textChanged = true;
      }
      if (textChanged || modelChanged) {
        auto model = std::make_shared<ViewModel>(*node->model);
        model->text = entry->text;
        entry->model = std::move(model);
        YGNodeMarkDirty(entry->yoga);
      }
    } else if (textInput) {
      // A text the bundle sets replaces what was typed.
      if (old != nullptr && ParseTextInputProps(old->componentName, old->props).text !=
                                ParseTextInputProps(node->componentName, node->props).text) {
        entry->nativeText.reset();
      }
      auto text = InputText(*node, entry->nativeText);
      if (!entry->text || *entry->text != *text) {
        entry->text = std::move(text);
        textChanged = true;
      }
      if (textChanged || modelChanged) {
        auto model = std::make_shared<ViewModel>(*node->model);
        model->paragraph.numberOfLines = ParseTextInputProps(node->componentName, node->props).multiline ? 0 : 1;
        entry->model = std::move(model);
        YGNodeMarkDirty(entry->yoga);
      }
    } else if (modelChanged) {
      entry->model = node->model;
    }
    if (!isNew && (modelChanged || textChanged)) propsChanged.push_back(entry);
    entry->node = node;
    if (!measuredLeaf) VisitChildren(entry, node->children, depth);
  }

  // What a text input is measured by: its text as the props give it, else
  // its placeholder, else one empty line (a space keeps the line's height).
  static std::shared_ptr<const AttributedText> InputText(const ShadowNode& node,
                                                        const std::optional<std::string>& nativeText) {
    const TextInputProps input = ParseTextInputProps(node.componentName, node.props);
    std::string shown = nativeText ? *nativeText : input.text.value_or(input.defaultText);
    if (shown.empty()) shown = input.placeholder;
    if (shown.empty()) shown = " ";
    auto text = std::make_shared<AttributedText>();
    text->fragments.push_back({std::move(shown), ParseTextAttributes(node.props)});
    return text;
  }

  std::shared_ptr<const AttributedText> BuildText(const ShadowNode& paragraph, int depth) {
    auto text = std::make_shared<AttributedText>();
    const TextAttributes base = paragraph.textAttributes ? *paragraph.textAttributes : TextAttributes{};
    size_t budget = kMaxTextNodesPerParagraph;
    AppendFragments(paragraph, base, *text, depth, budget);
    return text;
  }

  void AppendFragments(const ShadowNode& span, const TextAttributes& inherited, AttributedText& out, int depth,
                       size_t& budget) {
    for (const ShadowNodePtr& child : span.children) {
      if (!child) continue;
      if (budget == 0) return;
      --budget;
      if (depth + 1 > kMaxTreeDepth) {
        if (!tooDeep) Warn("View tree deeper than " + std::to_string(kMaxTreeDepth) + " levels: deeper views dropped");
        tooDeep = true;
        continue;
      }
      if (child->role == NodeRole::RawText) {
        const auto it = child->props.find("text");
        if (it != child->props.end() && it->is_string()) {
          const std::string& s = it->get_ref<const std::string&>();
          if (!s.empty()) out.fragments.push_back({s, inherited});
        }
      } else if (child->role == NodeRole::VirtualText || child->kind == ViewKind::Paragraph) {
        TextAttributes attrs = child->textAttributes ? *child->textAttributes : TextAttributes{};
        if (child->role == NodeRole::Mounted && child->props.is_object()) {
          // A Text nested as a paragraph component still paints its span background.
          if (const auto bg = child->props.find("backgroundColor"); bg != child->props.end()) {
            attrs.backgroundColor = ParseColor(*bg);
          }
        }
        attrs.InheritFrom(inherited);
        AppendFragments(*child, attrs, out, depth + 1, budget);
      } else if (!viewInText) {
        viewInText = true;
        Warn("Views inside Text are not supported (dropped " + child->componentName + ")");
      }
    }
  }

  // ---- removals ----

  void DeleteSubtree(Entry* entry, std::vector<MountOp>& removes, std::vector<MountOp>& deletes,
                     std::vector<Tag>& erased) {
    for (size_t i = entry->children.size(); i-- > 0;) {
      Entry* child = Lookup(entry->children[i]);
      if (!child) continue;
      MountOp remove;
      remove.kind = MountKind::Remove;
      remove.tag = child->tag;
      remove.parentTag = entry->tag;
      remove.index = static_cast<int>(i);
      removes.push_back(remove);
      if (child->seen != stamp) DeleteSubtree(child, removes, deletes, erased);
    }
    MountOp del;
    del.kind = MountKind::Delete;
    del.tag = entry->tag;
    deletes.push_back(del);
    erased.push_back(entry->tag);
  }

  void DiffChildren(const ChildChange& change, std::vector<MountOp>& removes, std::vector<MountOp>& inserts,
                    std::vector<Entry*>& gone) {
    const std::vector<Tag>& before = change.before;
    const std::vector<Tag>& after = change.parent->children;
    std::unordered_map<Tag, int> oldIndex;
    oldIndex.reserve(before.size());
    for (size_t i = 0; i < before.size(); ++i) oldIndex.emplace(before[i], static_cast<int>(i));
    std::vector<int> sequence(after.size(), -1);
    for (size_t j = 0; j < after.size(); ++j) {
      const auto it = oldIndex.find(after[j]);
      if (it != oldIndex.end()) sequence[j] = it->second;
    }
    const std::vector<bool> keptNew = LongestIncreasing(sequence);
    std::vector<bool> keptOld(before.size(), false);
    for (size_t j = 0; j < after.size(); ++j) {
      if (keptNew[j]) keptOld[static_cast<size_t>(sequence[j])] = true;
    }
    for (size_t i = before.size(); i-- > 0;) {
      if (keptOld[i]) continue;
      MountOp op;
      op.kind = MountKind::Remove;
      op.tag = before[i];
      op.parentTag = change.parent->tag;
      op.index = static_cast<int>(i);
      removes.push_back(op);
      Entry* child = Lookup(before[i]);
      if (child && child->seen != stamp) gone.push_back(child);
    }
    for (size_t j = 0; j < after.size(); ++j) {
      if (keptNew[j]) continue;
      MountOp op;
      op.kind = MountKind::Insert;
      op.tag = after[j];
      op.parentTag = change.parent->tag;
      op.index = static_cast<int>(j);
      inserts.push_back(op);
    }
  }

  // ---- layout ----

  static LayoutMetrics ReadMetrics(YGNodeConstRef node) {
    LayoutMetrics m;
    m.frame = {Finite(YGNodeLayoutGetLeft(node)), Finite(YGNodeLayoutGetTop(node)),
               Finite(YGNodeLayoutGetWidth(node)), Finite(YGNodeLayoutGetHeight(node))};
    m.borderWidth = {Finite(YGNodeLayoutGetBorder(node, YGEdgeLeft)), Finite(YGNodeLayoutGetBorder(node, YGEdgeTop)),
                     Finite(YGNodeLayoutGetBorder(node, YGEdgeRight)),
                     Finite(YGNodeLayoutGetBorder(node, YGEdgeBottom))};
    m.contentInsets = {m.borderWidth.left + Finite(YGNodeLayoutGetPadding(node, YGEdgeLeft)),
                       m.borderWidth.top + Finite(YGNodeLayoutGetPadding(node, YGEdgeTop)),
                       m.borderWidth.right + Finite(YGNodeLayoutGetPadding(node, YGEdgeRight)),
                       m.borderWidth.bottom + Finite(YGNodeLayoutGetPadding(node, YGEdgeBottom))};
    m.direction = YGNodeLayoutGetDirection(node) == YGDirectionRTL ? LayoutDirection::Rtl : LayoutDirection::Ltr;
    return m;
  }

  bool Layout() {
    const float scale = PointScale();
    YGConfigSetPointScaleFactor(config, scale);
    const YGDirection direction = constraints.direction == LayoutDirection::Rtl ? YGDirectionRTL : YGDirectionLTR;
    // Nothing to lay out. Yoga would still reset a clean root's size to its
    // value before pixel rounding, off the grid its children were laid on.
    if (laidOut && !YGNodeIsDirty(root->yoga) && scale == laidOutScale && direction == laidOutDirection) {
      return true;
    }
    laidOut = false;
    try {
      YGNodeCalculateLayout(root->yoga, YGUndefined, YGUndefined, direction);
    } catch (const std::exception& e) {
      Warn(std::string("Layout failed: ") + e.what());
      return false;
    }
    laidOut = true;
    laidOutScale = scale;
    laidOutDirection = direction;
    return true;
  }

  // Reads the frames Yoga changed; UpdateLayout for views not created now.
  void CollectLayout(Entry* entry, bool force, std::vector<MountOp>& updates) {
    const size_t count = YGNodeGetChildCount(entry->yoga);
    for (size_t i = 0; i < count; ++i) {
      YGNodeRef child = YGNodeGetChild(entry->yoga, i);
      if (!force && !YGNodeGetHasNewLayout(child)) continue;
      YGNodeSetHasNewLayout(child, false);
      auto* childEntry = static_cast<Entry*>(YGNodeGetContext(child));
      const LayoutMetrics metrics = ReadMetrics(child);
      if (metrics != childEntry->metrics) {
        childEntry->metrics = metrics;
        if (childEntry->created != stamp) {
          MountOp op;
          op.kind = MountKind::UpdateLayout;
          op.tag = childEntry->tag;
          op.layout = metrics;
          updates.push_back(op);
        }
      }
      CollectLayout(childEntry, force, updates);
    }
  }

  void CollectRootLayout(std::vector<MountOp>& updates) {
    YGNodeSetHasNewLayout(root->yoga, false);
    LayoutMetrics metrics = ReadMetrics(root->yoga);
    metrics.frame.x = 0;
    metrics.frame.y = 0;
    if (metrics != root->metrics) {
      root->metrics = metrics;
      if (rootMounted) {
        MountOp op;
        op.kind = MountKind::UpdateLayout;
        op.tag = rootTag;
        op.layout = metrics;
        updates.push_back(op);
      }
    }
  }

  void BeginPass(std::vector<std::string>* out) {
    ++stamp;
    ++commitNumber;
    warnings = out;
    warningLines = 0;
    warningsDropped = 0;
    tooDeep = false;
    textOutside = false;
    viewInText = false;
    createdList.clear();
    propsChanged.clear();
    childChanges.clear();
  }

  void EndPass() {
    if (warnings && warningsDropped > 0) {
      warnings->push_back("... and " + std::to_string(warningsDropped) + " more warnings");
    }
    warnings = nullptr;
  }
};

SurfaceTree::SurfaceTree(Tag rootTag, std::shared_ptr<const TextMeasurer> measurer)
    : state_(std::make_unique<State>(rootTag, std::move(measurer))) {}

SurfaceTree::~SurfaceTree() = default;

void SurfaceTree::SetConstraints(const LayoutConstraints& constraints) {
  State& s = *state_;
  const bool scaleChanged = constraints.pointScale != s.constraints.pointScale;
  const bool textScaleChanged = scaleChanged || constraints.fontScale != s.constraints.fontScale;
  s.constraints = constraints;
  s.ApplyRootSize();
  if (scaleChanged) s.rescanAllLayout = true;
  if (textScaleChanged) {
    for (auto& [tag, entry] : s.entries) {
      if (entry.measured) YGNodeMarkDirty(entry.yoga);
    }
  }
}

const LayoutConstraints& SurfaceTree::Constraints() const { return state_->constraints; }

MountTransaction SurfaceTree::Commit(std::vector<ShadowNodePtr> rootChildren, std::vector<std::string>* warnings) {
  State& s = *state_;
  s.BeginPass(warnings);
  MountTransaction tx;
  tx.rootTag = s.rootTag;
  tx.commitNumber = s.commitNumber;
  tx.constraints = s.constraints;

  s.root->seen = s.stamp;
  s.VisitChildren(s.root, rootChildren, 0);

  std::vector<MountOp> removes, inserts, deletes;
  std::vector<State::Entry*> gone;
  for (const auto& change : s.childChanges) {
    if (change.parent) s.DiffChildren(change, removes, inserts, gone);
  }
  std::vector<Tag> erased;
  for (State::Entry* entry : gone) {
    // Reached twice when it left a parent that was itself re-listed.
    if (entry->seen == s.stamp) continue;
    entry->seen = s.stamp;
    s.DeleteSubtree(entry, removes, deletes, erased);
  }
  for (Tag tag : erased) {
    auto it = s.entries.find(tag);
    if (it == s.entries.end()) continue;
    YGNodeFree(it->second.yoga);
    s.entries.erase(it);
  }

  s.Layout();
  std::vector<MountOp> layoutUpdates;
  s.CollectRootLayout(layoutUpdates);
  s.CollectLayout(s.root, s.rescanAllLayout, layoutUpdates);
  s.rescanAllLayout = false;

  tx.ops.reserve(s.createdList.size() + removes.size() + inserts.size() + s.propsChanged.size() +
                 layoutUpdates.size() + deletes.size() + 1);
  if (!s.rootMounted) {
    MountOp op;
    op.kind = MountKind::Create;
    op.tag = s.rootTag;
    op.model = s.root->model;
    op.layout = s.root->metrics;
    tx.ops.push_back(std::move(op));
    s.rootMounted = true;
  }
  for (State::Entry* entry : s.createdList) {
    MountOp op;
    op.kind = MountKind::Create;
    op.tag = entry->tag;
    op.model = entry->model;
    op.layout = entry->metrics;
    tx.ops.push_back(std::move(op));
  }
  for (MountOp& op : removes) tx.ops.push_back(std::move(op));
  for (MountOp& op : inserts) tx.ops.push_back(std::move(op));
  for (State::Entry* entry : s.propsChanged) {
    MountOp op;
    op.kind = MountKind::UpdateProps;
    op.tag = entry->tag;
    op.model = entry->model;
    tx.ops.push_back(std::move(op));
  }
  for (MountOp& op : layoutUpdates) tx.ops.push_back(std::move(op));
  for (MountOp& op : deletes) tx.ops.push_back(std::move(op));
  s.EndPass();
  return tx;
}

bool SurfaceTree::SetInputText(Tag tag, std::string text) {
  State::Entry* entry = state_->Lookup(tag);
  if (!entry || !entry->node || !entry->measured || !IsTextInputComponent(entry->node->componentName)) return false;
  if (entry->nativeText == text) return false;
  entry->nativeText = std::move(text);
  auto built = State::InputText(*entry->node, entry->nativeText);
  if (entry->text && *entry->text == *built) return false;
  entry->text = std::move(built);
  YGNodeMarkDirty(entry->yoga);
  return true;
}

MountTransaction SurfaceTree::Relayout() {
  State& s = *state_;
  s.BeginPass(nullptr);
  MountTransaction tx;
  tx.rootTag = s.rootTag;
  tx.commitNumber = s.commitNumber;
  tx.constraints = s.constraints;
  s.Layout();
  s.CollectRootLayout(tx.ops);
  s.CollectLayout(s.root, s.rescanAllLayout, tx.ops);
  s.rescanAllLayout = false;
  s.EndPass();
  return tx;
}

std::optional<Rect> SurfaceTree::AbsoluteFrame(Tag tag) const {
  const State::Entry* entry = state_->Lookup(tag);
  if (!entry) return std::nullopt;
  Rect frame = entry->metrics.frame;
  if (tag == state_->rootTag) return Rect{0, 0, frame.width, frame.height};
  const State::Entry* parent = state_->Lookup(entry->parent);
  for (int guard = 0; parent && parent != state_->root && guard <= kMaxTreeDepth; ++guard) {
    frame.x += parent->metrics.frame.x;
    frame.y += parent->metrics.frame.y;
    parent = state_->Lookup(parent->parent);
  }
  return frame;
}

std::optional<LayoutMetrics> SurfaceTree::Metrics(Tag tag) const {
  const State::Entry* entry = state_->Lookup(tag);
  if (!entry) return std::nullopt;
  return entry->metrics;
}

ShadowNodePtr SurfaceTree::Find(Tag tag) const {
  const State::Entry* entry = state_->Lookup(tag);
  return entry ? entry->node : nullptr;
}

std::optional<Tag> SurfaceTree::ParentOf(Tag tag) const {
  const State::Entry* entry = state_->Lookup(tag);
  if (!entry || tag == state_->rootTag) return std::nullopt;
  return entry->parent;
}

std::vector<Tag> SurfaceTree::ChildrenOf(Tag tag) const {
  const State::Entry* entry = state_->Lookup(tag);
  return entry ? entry->children : std::vector<Tag>{};
}

Tag SurfaceTree::RootTag() const { return state_->rootTag; }

size_t SurfaceTree::NodeCount() const { return state_->entries.size(); }

}  // namespace VirelantDesktop::render
