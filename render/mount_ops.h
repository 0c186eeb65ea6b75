// The list a commit hands to the UI thread: what to create, change, move and
// delete in the mounted view tree, in the order to apply it.
//
// Order within one list: all Creates first, then Deletes' Removes, then
// Inserts, UpdateProps and UpdateLayout, then Deletes (a view is removed
// before it is deleted and created before it is inserted).
#pragma once

#include <string>
#include <vector>

#include "render/render_types.h"
#include "render/view_model.h"

namespace VirelantDesktop::render {

enum class MountKind {
  Create,        // tag, model (component name inside), layout
  Delete,        // tag
  Insert,        // tag into parentTag at index
  Remove,        // tag from parentTag at index
  UpdateProps,   // tag, model
  UpdateLayout,  // tag, layout
};

struct MountOp {
  MountKind kind = MountKind::Create;
  Tag tag = 0;
  Tag parentTag = 0;
  int index = 0;
  ViewModelPtr model;
  LayoutMetrics layout;
};

// One commit of one surface.
struct MountTransaction {
  Tag rootTag = 0;
  int64_t commitNumber = 0;
  LayoutConstraints constraints;
  std::vector<MountOp> ops;
};

}  // namespace VirelantDesktop::render
