// Building mount transactions in tests: views with a style, laid out at a frame.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "render/mount_ops.h"

namespace VirelantDesktop::testing {

inline render::ViewModelPtr Model(render::ViewStyle style = {}, render::ViewKind kind = render::ViewKind::View,
                                  std::string name = "RCTView") {
  auto model = std::make_shared<render::ViewModel>();
  model->componentName = std::move(name);
  model->kind = kind;
  model->style = style;
  return model;
}

class TransactionBuilder {
 public:
  explicit TransactionBuilder(render::Tag root, render::Size size = {400, 300}, float scale = 1) {
    transaction_.rootTag = root;
    transaction_.constraints.size = size;
    transaction_.constraints.pointScale = scale;
  }
  TransactionBuilder& Create(render::Tag tag, render::Rect frame, render::ViewModelPtr model = Model()) {
    render::MountOp op;
    op.kind = render::MountKind::Create;
    op.tag = tag;
    op.model = std::move(model);
    op.layout.frame = frame;
    transaction_.ops.push_back(op);
    return *this;
  }
  TransactionBuilder& Insert(render::Tag tag, render::Tag parent, int index) {
    return Op(render::MountKind::Insert, tag, parent, index);
  }
  TransactionBuilder& Remove(render::Tag tag, render::Tag parent, int index) {
    return Op(render::MountKind::Remove, tag, parent, index);
  }
  TransactionBuilder& Delete(render::Tag tag) { return Op(render::MountKind::Delete, tag, 0, 0); }
  // Create and insert as the last child (index past the end is clamped).
  TransactionBuilder& Add(render::Tag tag, render::Tag parent, render::Rect frame,
                          render::ViewModelPtr model = Model()) {
    Create(tag, frame, std::move(model));
    return Insert(tag, parent, 1 << 20);
  }
  TransactionBuilder& Layout(render::Tag tag, render::Rect frame) {
    render::MountOp op;
    op.kind = render::MountKind::UpdateLayout;
    op.tag = tag;
    op.layout.frame = frame;
    transaction_.ops.push_back(op);
    return *this;
  }
  TransactionBuilder& Props(render::Tag tag, render::ViewModelPtr model) {
    render::MountOp op;
    op.kind = render::MountKind::UpdateProps;
    op.tag = tag;
    op.model = std::move(model);
    transaction_.ops.push_back(op);
    return *this;
  }
  const render::MountTransaction& Get() const { return transaction_; }

 private:
  TransactionBuilder& Op(render::MountKind kind, render::Tag tag, render::Tag parent, int index) {
    render::MountOp op;
    op.kind = kind;
    op.tag = tag;
    op.parentTag = parent;
    op.index = index;
    transaction_.ops.push_back(op);
    return *this;
  }
  render::MountTransaction transaction_;
};

}  // namespace VirelantDesktop::testing
