#include "render/mounted_tree.h"

#include <algorithm>
#include <cmath>

#include "render/affine_math.h"

namespace VirelantDesktop::render {

namespace {

// Beyond this many separate areas a surface's damage becomes one box.
constexpr size_t kMaxDamageRects = 32;

const ViewModelPtr& EmptyModel() {
  static const ViewModelPtr model = std::make_shared<const ViewModel>();
  return model;
}

Affine ChildrenOffset(const MountedView& view) { return Translation(-view.scrollOffset.x, -view.scrollOffset.y); }

bool Contains(const Rect& outer, const Rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

MountedView* MountedTree::Mutable(Tag tag) {
  auto it = views_.find(tag);
  return it == views_.end() ? nullptr : &it->second;
}

const MountedView* MountedTree::Find(Tag tag) const {
  auto it = views_.find(tag);
  return it == views_.end() ? nullptr : &it->second;
}

const MountedView* MountedTree::Root(Tag rootTag) const {
  if (!surfaces_.count(rootTag)) return nullptr;
  return Find(rootTag);
}

std::optional<LayoutConstraints> MountedTree::Constraints(Tag rootTag) const {
  auto it = surfaces_.find(rootTag);
  if (it == surfaces_.end()) return std::nullopt;
  return it->second;
}

bool MountedTree::IsAncestorOrSelf(Tag ancestor, Tag tag) const {
  // Parents never form a cycle (Insert refuses those), but bound the walk anyway.
  for (size_t steps = 0; steps <= views_.size(); ++steps) {
    if (tag == ancestor) return true;
    const MountedView* view = Find(tag);
    if (view == nullptr || view->parent == 0) return false;
    tag = view->parent;
  }
  return false;
}

std::optional<Tag> MountedTree::SurfaceOf(Tag tag) const {
  for (size_t steps = 0; steps <= views_.size(); ++steps) {
    const MountedView* view = Find(tag);
    if (view == nullptr) return std::nullopt;
    if (view->parent == 0) {
      if (surfaces_.count(tag)) return tag;
      return std::nullopt;
    }
    tag = view->parent;
  }
  return std::nullopt;
}

std::vector<Tag> MountedTree::PathTo(Tag tag) const {
  if (!SurfaceOf(tag)) return {};
  std::vector<Tag> path;
  for (const MountedView* view = Find(tag); view != nullptr; view = view->parent ? Find(view->parent) : nullptr) {
    path.push_back(view->tag);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

std::optional<Affine> MountedTree::AbsoluteTransform(Tag tag) const {
  std::vector<Tag> path = PathTo(tag);
  if (path.empty()) return std::nullopt;
  Affine m;
  for (size_t i = 0; i < path.size(); ++i) {
    const MountedView& view = *Find(path[i]);
    m = Multiply(m, LocalToParent(view.layout.frame, view.model->style.transform));
    if (i + 1 < path.size()) m = Multiply(m, ChildrenOffset(view));
  }
  return m;
}

std::optional<Rect> MountedTree::AbsoluteFrame(Tag tag) const {
  std::optional<Affine> m = AbsoluteTransform(tag);
  if (!m) return std::nullopt;
  const Rect& frame = Find(tag)->layout.frame;
  return BoundingBox(*m, {0, 0, frame.width, frame.height});
}

std::optional<Point> MountedTree::ToLocal(Tag tag, Point absolute) const {
  std::optional<Affine> m = AbsoluteTransform(tag);
  if (!m) return std::nullopt;
  std::optional<Affine> inverse = Invert(*m);
  if (!inverse) return std::nullopt;
  return ApplyTo(*inverse, absolute);
}

void MountedTree::Detach(MountedView& view) {
  if (view.parent == 0) return;
  if (MountedView* parent = Mutable(view.parent)) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), view.tag), siblings.end());
  }
  view.parent = 0;
}

Rect MountedTree::SubtreeBounds(const MountedView& view, const Affine& parentToAbsolute, int depth) const {
  const ViewStyle& style = view.model->style;
  if (depth > kMaxViewDepth) return {};
  const Affine m = Multiply(parentToAbsolute, LocalToParent(view.layout.frame, style.transform));
  const Rect own = BoundingBox(m, {0, 0, view.layout.frame.width, view.layout.frame.height});
  // Children clipped to the view add nothing (a scroll view's long content
  // is not walked on every scroll).
  if (style.overflowHidden) return own;
  const Affine inner = Multiply(m, ChildrenOffset(view));
  Rect children;
  for (Tag childTag : view.children) {
    if (const MountedView* child = Find(childTag)) children = Union(children, SubtreeBounds(*child, inner, depth + 1));
  }
  return Union(own, children);
}

void MountedTree::AddDamage(Tag root, Rect rect) {
  if (IsEmpty(rect)) return;
  // Edges drawn with antialiasing reach into the next pixel.
  rect = Inflate(rect, 1);
  std::vector<Rect>& rects = damage_[root];
  for (const Rect& existing : rects) {
    if (Contains(existing, rect)) return;
  }
  rects.erase(std::remove_if(rects.begin(), rects.end(), [&rect](const Rect& r) { return Contains(rect, r); }),
              rects.end());
  rects.push_back(rect);
  if (rects.size() > kMaxDamageRects) {
    Rect all;
    for (const Rect& r : rects) all = Union(all, r);
    rects.assign(1, all);
  }
}

void MountedTree::AddSubtreeDamage(Tag tag) {
  std::optional<Tag> root = SurfaceOf(tag);
  if (!root) return;
  const MountedView* view = Find(tag);
  Affine parentToAbsolute;
  if (view->parent != 0) {
    std::optional<Affine> m = AbsoluteTransform(view->parent);
    if (!m) return;
    parentToAbsolute = *m;
  }
  AddDamage(*root, SubtreeBounds(*view, parentToAbsolute, 0));
}

void MountedTree::Apply(const MountTransaction& transaction) {
  const Tag rootTag = transaction.rootTag;
  auto previous = surfaces_.find(rootTag);
  const bool sizeChanged = previous == surfaces_.end() || !(previous->second == transaction.constraints);
  surfaces_[rootTag] = transaction.constraints;
  if (!views_.count(rootTag)) {
    MountedView root;
    root.tag = rootTag;
    root.model = EmptyModel();
    views_.emplace(rootTag, std::move(root));
    implicitRoots_[rootTag] = true;
  }
  if (implicitRoots_[rootTag] && sizeChanged) {
    MountedView& root = views_[rootTag];
    if (root.parent == 0) {
      AddSubtreeDamage(rootTag);
      root.layout.frame = {0, 0, transaction.constraints.size.width, transaction.constraints.size.height};
      AddSubtreeDamage(rootTag);
    }
  }

  const std::vector<KeptPosition> kept = FindKeptPositions();
  for (const MountOp& op : transaction.ops) {
    switch (op.kind) {
      case MountKind::Create: {
        auto it = views_.find(op.tag);
        if (it != views_.end()) {
          // Only a root made ahead of its Create takes the Create's content.
          auto implicit = implicitRoots_.find(op.tag);
          if (implicit == implicitRoots_.end() || !implicit->second) break;
          implicit->second = false;
          AddSubtreeDamage(op.tag);
          it->second.model = op.model ? op.model : EmptyModel();
          it->second.layout = op.layout;
          AddSubtreeDamage(op.tag);
          break;
        }
        MountedView view;
        view.tag = op.tag;
        view.model = op.model ? op.model : EmptyModel();
        view.layout = op.layout;
        if (view.model->isScrollView) {
          scrollViews_.push_back(op.tag);
          // Clamped once its content is in place, after this commit.
          if (view.model->scroll.initialOffset) view.scrollOffset = *view.model->scroll.initialOffset;
          if (view.scrollOffset != Point{}) scrolled_.push_back(op.tag);
        }
        views_.emplace(op.tag, std::move(view));
        break;
      }
      case MountKind::Delete: {
        MountedView* view = Mutable(op.tag);
        if (view == nullptr) break;
        AddSubtreeDamage(op.tag);
        Detach(*view);
        for (Tag childTag : view->children) {
          if (MountedView* child = Mutable(childTag)) child->parent = 0;
        }
        views_.erase(op.tag);
        implicitRoots_.erase(op.tag);
        std::erase(scrollViews_, op.tag);
        std::erase(scrolled_, op.tag);
        break;
      }
      case MountKind::Insert: {
        MountedView* view = Mutable(op.tag);
        MountedView* parent = Mutable(op.parentTag);
        if (view == nullptr || parent == nullptr || IsAncestorOrSelf(op.tag, op.parentTag)) break;
        if (surfaces_.count(op.tag)) break;  // a surface's root stays a root
        if (view->parent != 0) {
          AddSubtreeDamage(op.tag);
          Detach(*view);
        }
        auto& children = parent->children;
        const size_t index = std::clamp<long long>(op.index, 0, static_cast<long long>(children.size()));
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(index), op.tag);
        view->parent = op.parentTag;
        AddSubtreeDamage(op.tag);
        break;
      }
      case MountKind::Remove: {
        MountedView* view = Mutable(op.tag);
        if (view == nullptr || view->parent != op.parentTag || op.parentTag == 0) break;
        AddSubtreeDamage(op.tag);
        Detach(*view);
        break;
      }
      case MountKind::UpdateProps: {
        MountedView* view = Mutable(op.tag);
        if (view == nullptr || !op.model) break;
        AddSubtreeDamage(op.tag);
        const bool wasScrollView = view->model->isScrollView;
        view->model = op.model;
        if (op.model->isScrollView && !wasScrollView) scrollViews_.push_back(op.tag);
        if (!op.model->isScrollView && wasScrollView) {
          std::erase(scrollViews_, op.tag);
          view->scrollOffset = {};
        }
        AddSubtreeDamage(op.tag);
        break;
      }
      case MountKind::UpdateLayout: {
        MountedView* view = Mutable(op.tag);
        if (view == nullptr) break;
        if (view->layout == op.layout) break;
        AddSubtreeDamage(op.tag);
        view->layout = op.layout;
        if (auto implicit = implicitRoots_.find(op.tag); implicit != implicitRoots_.end()) implicit->second = false;
        AddSubtreeDamage(op.tag);
        break;
      }
    }
  }
  AfterCommit(kept);
}

std::vector<MountedTree::KeptPosition> MountedTree::FindKeptPositions() const {
  std::vector<KeptPosition> kept;
  for (Tag tag : scrollViews_) {
    const MountedView* view = Find(tag);
    if (view == nullptr || !view->model->scroll.keepVisibleFromIndex || view->children.empty()) continue;
    const MountedView* content = Find(view->children.front());
    if (content == nullptr) continue;
    const bool horizontal = view->model->scroll.axes == ScrollAxes::Horizontal;
    const size_t first = static_cast<size_t>(*view->model->scroll.keepVisibleFromIndex);
    for (size_t i = first; i < content->children.size(); ++i) {
      const MountedView* child = Find(content->children[i]);
      if (child == nullptr) continue;
      const Rect& f = child->layout.frame;
      const float end = horizontal ? content->layout.frame.x + f.x + f.width : content->layout.frame.y + f.y + f.height;
      // The first child whose far edge is past the viewport's start.
      if (end > (horizontal ? view->scrollOffset.x : view->scrollOffset.y) || i + 1 == content->children.size()) {
        kept.push_back({tag, child->tag, {f.x, f.y}});
        break;
      }
    }
  }
  return kept;
}

void MountedTree::AfterCommit(const std::vector<KeptPosition>& kept) {
  for (const KeptPosition& k : kept) {
    MountedView* view = Mutable(k.scrollView);
    const MountedView* child = Find(k.child);
    if (view == nullptr || child == nullptr || view->children.empty() || child->parent != view->children.front()) {
      continue;
    }
    Point offset{view->scrollOffset.x + child->layout.frame.x - k.childOrigin.x,
                 view->scrollOffset.y + child->layout.frame.y - k.childOrigin.y};
    const auto& scroll = view->model->scroll;
    if (scroll.autoscrollToStartThreshold) {
      const bool horizontal = scroll.axes == ScrollAxes::Horizontal;
      const float before = horizontal ? view->scrollOffset.x : view->scrollOffset.y;
      if (before <= *scroll.autoscrollToStartThreshold) offset = {};
    }
    SetScrollOffset(*view, offset);
  }
  // Every scroll view stays within its (maybe smaller) extent.
  for (Tag tag : scrollViews_) {
    if (MountedView* view = Mutable(tag)) SetScrollOffset(*view, view->scrollOffset);
  }
}

std::optional<ScrollMetrics> MountedTree::Scroll(Tag tag) const {
  const MountedView* view = Find(tag);
  if (view == nullptr || !view->model->isScrollView) return std::nullopt;
  ScrollMetrics metrics;
  metrics.viewport = {view->layout.frame.width, view->layout.frame.height};
  if (!view->children.empty()) {
    if (const MountedView* content = Find(view->children.front())) {
      metrics.content = {content->layout.frame.width, content->layout.frame.height};
    }
  }
  metrics.max = MaxScrollOffset(view->model->scroll, metrics.viewport, metrics.content);
  metrics.offset = view->scrollOffset;
  return metrics;
}

bool MountedTree::SetScrollOffset(MountedView& view, Point offset) {
  const auto metrics = Scroll(view.tag);
  if (!metrics) return false;
  const Point clamped = ClampScrollOffset(offset, metrics->max);
  if (clamped == view.scrollOffset) return false;
  AddSubtreeDamage(view.tag);
  view.scrollOffset = clamped;
  AddSubtreeDamage(view.tag);
  if (std::find(scrolled_.begin(), scrolled_.end(), view.tag) == scrolled_.end()) scrolled_.push_back(view.tag);
  return true;
}

bool MountedTree::ScrollTo(Tag tag, Point offset) {
  MountedView* view = Mutable(tag);
  return view != nullptr && SetScrollOffset(*view, offset);
}

std::vector<Tag> MountedTree::TakeScrolled() {
  std::vector<Tag> taken;
  taken.swap(scrolled_);
  return taken;
}

std::vector<Tag> MountedTree::ScrollViewsIn(Tag rootTag) const {
  std::vector<Tag> found;
  for (Tag tag : scrollViews_) {
    if (SurfaceOf(tag) == rootTag) found.push_back(tag);
  }
  return found;
}

std::optional<Rect> MountedTree::ScrollClip(Tag tag) const {
  std::optional<Rect> clip;
  const std::vector<Tag> path = PathTo(tag);
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    const MountedView* view = Find(path[i]);
    if (view == nullptr || !view->model->isScrollView) continue;
    const auto frame = AbsoluteFrame(path[i]);
    if (!frame) continue;
    clip = clip ? Intersection(*clip, *frame) : *frame;
  }
  return clip;
}

std::vector<Tag> MountedTree::ScrollViewsAt(Tag rootTag, Point p) const {
  std::vector<Tag> found;
  const std::optional<Tag> hit = HitTest(rootTag, p);
  if (!hit) return found;
  std::vector<Tag> path = PathTo(*hit);
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (const MountedView* view = Find(*it); view != nullptr && view->model->isScrollView) found.push_back(*it);
  }
  return found;
}

void MountedTree::RemoveSurface(Tag rootTag) {
  if (!surfaces_.count(rootTag)) return;
  std::vector<Tag> pending{rootTag};
  while (!pending.empty()) {
    const Tag tag = pending.back();
    pending.pop_back();
    auto it = views_.find(tag);
    if (it == views_.end()) continue;
    pending.insert(pending.end(), it->second.children.begin(), it->second.children.end());
    views_.erase(it);
  }
  surfaces_.erase(rootTag);
  implicitRoots_.erase(rootTag);
  damage_.erase(rootTag);
  std::erase_if(scrollViews_, [this](Tag tag) { return !views_.count(tag); });
  std::erase_if(scrolled_, [this](Tag tag) { return !views_.count(tag); });
}

std::vector<Rect> MountedTree::Damage(Tag rootTag) const {
  auto it = damage_.find(rootTag);
  return it == damage_.end() ? std::vector<Rect>{} : it->second;
}

std::vector<Rect> MountedTree::Damage() const {
  std::vector<Rect> all;
  for (const auto& [root, rects] : damage_) all.insert(all.end(), rects.begin(), rects.end());
  return all;
}

std::vector<Rect> MountedTree::TakeDamage(Tag rootTag) {
  std::vector<Rect> rects = Damage(rootTag);
  damage_.erase(rootTag);
  return rects;
}

std::vector<Rect> MountedTree::TakeDamage() {
  std::vector<Rect> all = Damage();
  damage_.clear();
  return all;
}

std::optional<Tag> MountedTree::HitView(const MountedView& view, Point inParent, int depth, Point* local) const {
  if (depth > kMaxViewDepth) return std::nullopt;
  const ViewStyle& style = view.model->style;
  if (style.pointerEvents == PointerEvents::None) return std::nullopt;
  std::optional<Affine> toLocal = Invert(LocalToParent(view.layout.frame, style.transform));
  if (!toLocal) return std::nullopt;
  const Point p = ApplyTo(*toLocal, inParent);
  const Size size{view.layout.frame.width, view.layout.frame.height};
  const bool inside = InsideRoundedRect(p, size, FitRadii(style.borderRadius, size));
  if (style.overflowHidden && !inside) return std::nullopt;
  if (style.pointerEvents != PointerEvents::BoxOnly) {
    for (auto it = view.children.rbegin(); it != view.children.rend(); ++it) {
      const MountedView* child = Find(*it);
      if (child == nullptr) continue;
      const Point inContent{p.x + view.scrollOffset.x, p.y + view.scrollOffset.y};
      if (std::optional<Tag> hit = HitView(*child, inContent, depth + 1, local)) return hit;
    }
  }
  if (style.pointerEvents != PointerEvents::BoxNone && inside) {
    if (local != nullptr) *local = p;
    return view.tag;
  }
  return std::nullopt;
}

std::optional<Tag> MountedTree::HitTest(Tag rootTag, Point p, Point* local) const {
  const MountedView* root = Root(rootTag);
  if (root == nullptr || root->parent != 0 || !std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
  return HitView(*root, p, 0, local);
}

}  // namespace VirelantDesktop::render
