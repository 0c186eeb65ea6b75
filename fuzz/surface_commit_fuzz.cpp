// SurfaceTree::Commit on trees a bundle may build (inputs that are not JSON
// are skipped). The input describes the root's children:
//
//   {"viewport": [width, height, pointScale, fontScale, rtl],
//    "children": [node, ...]}          (or just the array of nodes)
//   node: {"tag": n, "name": "RCTView", "props": {...}, "children": [...],
//          "diff": {...}, "drop": true, "reverse": true, "name2": "...", "tag2": n}
//
// A node without "tag" gets the next free one; "name" defaults to RCTView
// ("Native..." names count as registered native components). At most 64
// levels and 2000 nodes are built; the rest is left out.
//
// Four commits are checked, each applied to a mirror of the mounted views
// that refuses what the UI thread could not do (creating a view twice,
// inserting one that is attached, removing from a wrong index, deleting one
// still attached or with children, touching one that does not exist):
//  1. the tree as described;
//  2. the same tree committed again: no operations at all;
//  3. the second tree: "diff" cloned into the props, "drop" left out,
//     "reverse" children reversed, "name2"/"tag2" made afresh under another
//     component name or tag; unchanged subtrees keep their nodes;
//  4. after a relayout in another viewport (layout updates only), an empty
//     tree: everything but the root removed and deleted.
// After each commit the mirror must hold exactly the views the tree should
// mount: each accepted tag once, under its parent in order, with tags used
// twice, the root's tag, text nodes and a paragraph's children left out.
// Every layout carried must be finite. Seeds: fuzz/corpus/surface_commit.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/json_mutator.h"
#include "render/estimated_text_measurer.h"
#include "render/shadow_node.h"
#include "render/surface_tree.h"

namespace render = VirelantDesktop::render;
using render::MountKind;
using render::MountOp;
using render::MountTransaction;
using render::Props;
using render::ShadowNodePtr;
using render::Tag;

namespace {

constexpr Tag kRoot = 1;
constexpr int kMaxDepth = 64;
constexpr int kMaxNodes = 2000;

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

bool IsNative(const std::string& name) { return std::string_view(name).starts_with("Native"); }

// ---- building the two trees from the description ----

struct Builder {
  Tag nextTag = 2;
  int nodes = 0;

  static Tag TagFrom(const Props& value, Tag fallback) {
    if (!value.is_number_integer()) return fallback;
    const int64_t v = value.get<int64_t>();
    return static_cast<Tag>(v < -1000000 ? -1000000 : v > 1000000 ? 1000000 : v);
  }

  static std::string NameFrom(const Props& value, const char* fallback) {
    return value.is_string() ? value.get<std::string>() : std::string(fallback);
  }

  static const Props* Member(const Props& node, const char* key) {
    if (!node.is_object()) return nullptr;
    const auto it = node.find(key);
    return it == node.end() ? nullptr : &*it;
  }

  static bool Flag(const Props& node, const char* key) {
    const Props* v = Member(node, key);
    return v && v->is_boolean() && v->get<bool>();
  }

  // One node of the first tree, and what the second tree makes of it (null
  // when dropped).
  struct Pair {
    ShadowNodePtr first;
    ShadowNodePtr second;
  };

  std::vector<Pair> BuildList(const Props* list, int depth) {
    std::vector<Pair> out;
    if (!list || !list->is_array() || depth > kMaxDepth) return out;
    for (const Props& item : *list) {
      if (nodes >= kMaxNodes) break;
      out.push_back(Build(item, depth));
    }
    return out;
  }

  Pair Build(const Props& desc, int depth) {
    ++nodes;
    const Props* tagValue = Member(desc, "tag");
    const Tag tag = tagValue ? TagFrom(*tagValue, nextTag) : nextTag;
    if (!tagValue) ++nextTag;
    const Props* nameValue = Member(desc, "name");
    const std::string name = nameValue ? NameFrom(*nameValue, "RCTView") : std::string("RCTView");
    const Props* props = Member(desc, "props");

    std::vector<Pair> kids = BuildList(Member(desc, "children"), depth + 1);
    std::vector<ShadowNodePtr> firstKids, secondKids;
    bool kidsChanged = false;
    for (const Pair& kid : kids) {
      firstKids.push_back(kid.first);
      if (kid.second) secondKids.push_back(kid.second);
      kidsChanged = kidsChanged || kid.second != kid.first;
    }
    if (Flag(desc, "reverse") && secondKids.size() > 1) {
      std::reverse(secondKids.begin(), secondKids.end());
      kidsChanged = true;
    }

    ShadowNodePtr first = render::MakeShadowNode(tag, name, kRoot, props ? *props : Props::object(), IsNative);
    if (!firstKids.empty()) first = render::CloneShadowNode(*first, nullptr, &firstKids);

    Pair pair{first, first};
    if (Flag(desc, "drop")) {
      pair.second = nullptr;
      return pair;
    }
    const Props* name2 = Member(desc, "name2");
    const Props* tag2 = Member(desc, "tag2");
    const Props* diff = Member(desc, "diff");
    if (name2 || tag2) {
      Props merged = first->props;
      if (diff) render::MergeProps(merged, *diff);
      ShadowNodePtr fresh = render::MakeShadowNode(tag2 ? TagFrom(*tag2, tag) : tag,
                                                   name2 ? NameFrom(*name2, name.c_str()) : name, kRoot,
                                                   std::move(merged), IsNative);
      pair.second = render::CloneShadowNode(*fresh, nullptr, &secondKids);
    } else if (diff || kidsChanged) {
      pair.second = render::CloneShadowNode(*first, diff, kidsChanged ? &secondKids : nullptr);
    }
    return pair;
  }
};

// ---- the views a tree should mount ----

struct Expected {
  std::set<Tag> tags{kRoot};
  std::map<Tag, std::vector<Tag>> children;

  void Walk(Tag parent, const std::vector<ShadowNodePtr>& kids) {
    for (const ShadowNodePtr& kid : kids) {
      if (!kid || kid->role != render::NodeRole::Mounted || kid->tag == kRoot) continue;
      if (!tags.insert(kid->tag).second) continue;
      children[parent].push_back(kid->tag);
      if (kid->kind != render::ViewKind::Paragraph) Walk(kid->tag, kid->children);
    }
  }
};

// ---- the UI thread's side, as far as structure goes ----

class Mirror {
 public:
  void Apply(const MountTransaction& tx, bool layoutOnly) {
    Require(tx.rootTag == kRoot);
    for (const MountOp& op : tx.ops) {
      Require(!layoutOnly || op.kind == MountKind::UpdateLayout);
      switch (op.kind) {
        case MountKind::Create:
          Require(!exists_.count(op.tag) && op.model != nullptr);
          CheckLayout(op.layout);
          exists_.insert(op.tag);
          break;
        case MountKind::Delete:
          Require(exists_.count(op.tag) && !parentOf_.count(op.tag));
          Require(children_[op.tag].empty());
          exists_.erase(op.tag);
          children_.erase(op.tag);
          break;
        case MountKind::Insert: {
          Require(exists_.count(op.tag) && exists_.count(op.parentTag) && !parentOf_.count(op.tag));
          Require(op.tag != kRoot && op.tag != op.parentTag);
          auto& list = children_[op.parentTag];
          Require(op.index >= 0 && static_cast<size_t>(op.index) <= list.size());
          list.insert(list.begin() + op.index, op.tag);
          parentOf_[op.tag] = op.parentTag;
          break;
        }
        case MountKind::Remove: {
          auto& list = children_[op.parentTag];
          Require(op.index >= 0 && static_cast<size_t>(op.index) < list.size());
          Require(list[static_cast<size_t>(op.index)] == op.tag);
          list.erase(list.begin() + op.index);
          parentOf_.erase(op.tag);
          break;
        }
        case MountKind::UpdateProps: Require(exists_.count(op.tag) && op.model != nullptr); break;
        case MountKind::UpdateLayout:
          Require(exists_.count(op.tag));
          CheckLayout(op.layout);
          break;
      }
    }
  }

  void Match(const Expected& expected, const render::SurfaceTree& tree) const {
    Require(exists_ == expected.tags);
    Require(tree.NodeCount() == exists_.size());
    for (const auto& [parent, list] : children_) {
      const auto it = expected.children.find(parent);
      Require(it == expected.children.end() ? list.empty() : it->second == list);
    }
    for (const auto& [parent, list] : expected.children) {
      const auto it = children_.find(parent);
      Require(it != children_.end() && it->second == list);
      for (Tag tag : list) Require(tree.ParentOf(tag) == parent);
    }
  }

 private:
  static void CheckLayout(const render::LayoutMetrics& m) {
    for (float v : {m.frame.x, m.frame.y, m.frame.width, m.frame.height, m.borderWidth.left, m.borderWidth.top,
                    m.borderWidth.right, m.borderWidth.bottom, m.contentInsets.left, m.contentInsets.top,
                    m.contentInsets.right, m.contentInsets.bottom}) {
      Require(std::isfinite(v));
    }
  }

  std::set<Tag> exists_;
  std::map<Tag, std::vector<Tag>> children_;
  std::map<Tag, Tag> parentOf_;
};

// How often the second commit reached the diff's paths, printed at exit:
// random trees must get past the first commit's plain creates.
struct Counts {
  unsigned long long inputs = 0, updated = 0, moved = 0, deleted = 0;
  ~Counts() {
    std::fprintf(stderr, "surface_commit_fuzz: trees %llu; second commits with props updates %llu, moves %llu, "
                 "deletes %llu\n", inputs, updated, moved, deleted);
  }
} g_counts;

void Count(const MountTransaction& tx) {
  bool updated = false, moved = false, deleted = false;
  std::set<Tag> created;
  for (const MountOp& op : tx.ops) {
    if (op.kind == MountKind::Create) created.insert(op.tag);
    updated = updated || op.kind == MountKind::UpdateProps;
    moved = moved || (op.kind == MountKind::Insert && !created.count(op.tag));
    deleted = deleted || op.kind == MountKind::Delete;
  }
  g_counts.updated += updated;
  g_counts.moved += moved;
  g_counts.deleted += deleted;
}

render::LayoutConstraints ViewportFrom(const Props* value) {
  render::LayoutConstraints c;
  c.size = {400, 800};
  if (!value || !value->is_array()) return c;
  auto number = [&](size_t i, float fallback) {
    if (i >= value->size() || !(*value)[i].is_number()) return fallback;
    return static_cast<float>((*value)[i].get<double>());
  };
  c.size = {number(0, 400), number(1, 800)};
  c.pointScale = number(2, 1);
  c.fontScale = number(3, 1);
  if (value->size() > 4 && (*value)[4] == true) c.direction = render::LayoutDirection::Rtl;
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Props input = Props::parse(data, data + size, nullptr, false);
  if (input.is_discarded()) return 0;
  const Props* list = input.is_array() ? &input : Builder::Member(input, "children");
  if (!list) return 0;

  ++g_counts.inputs;
  Builder builder;
  std::vector<ShadowNodePtr> first, second;
  for (const Builder::Pair& pair : builder.BuildList(list, 1)) {
    first.push_back(pair.first);
    if (pair.second) second.push_back(pair.second);
  }
  if (Builder::Flag(input, "reverse")) std::reverse(second.begin(), second.end());

  render::SurfaceTree tree(kRoot, std::make_shared<render::EstimatedTextMeasurer>());
  const render::LayoutConstraints viewport = ViewportFrom(Builder::Member(input, "viewport"));
  tree.SetConstraints(viewport);
  Mirror mirror;
  std::vector<std::string> warnings;

  Expected firstExpected;
  firstExpected.Walk(kRoot, first);
  mirror.Apply(tree.Commit(first, &warnings), false);
  mirror.Match(firstExpected, tree);

  const MountTransaction again = tree.Commit(first, &warnings);
  Require(again.ops.empty());

  Expected secondExpected;
  secondExpected.Walk(kRoot, second);
  const MountTransaction secondTx = tree.Commit(second, &warnings);
  mirror.Apply(secondTx, false);
  Count(secondTx);
  mirror.Match(secondExpected, tree);

  render::LayoutConstraints other = viewport;
  other.size = {viewport.size.height, viewport.size.width};
  other.pointScale = viewport.pointScale == 2 ? 1 : 2;
  other.direction = viewport.direction == render::LayoutDirection::Rtl ? render::LayoutDirection::Ltr
                                                                        : render::LayoutDirection::Rtl;
  tree.SetConstraints(other);
  mirror.Apply(tree.Relayout(), true);

  mirror.Apply(tree.Commit({}, &warnings), false);
  mirror.Match(Expected{}, tree);
  return 0;
}
