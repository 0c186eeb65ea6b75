#include "host/fabric_ui_manager.h"

#include <cmath>
#include <stdexcept>

#include "host/host_core.h"
#include "host/js_convert.h"
#include "host/js_runtime.h"
#include "host/jsc_string.h"
#include "render/document_position.h"
#include "render/estimated_text_measurer.h"

namespace VirelantDesktop::host {
namespace {

// A shadow node as JavaScript holds it. Nodes are immutable once shared:
// appendChild only grows a node that no parent, child set or commit has
// taken yet (the renderer only appends to fresh clones); a sealed node is
// copied first.
struct NodeBox {
  render::ShadowNodePtr node;
  bool sealed = false;
};

struct ChildSetBox {
  std::vector<render::ShadowNodePtr> children;
};

double NumberArg(JSContextRef ctx, size_t argc, const JSValueRef argv[], size_t i) {
  if (i >= argc || !JSValueIsNumber(ctx, argv[i])) return std::nan("");
  return JSValueToNumber(ctx, argv[i], nullptr);
}

render::Tag TagArg(JSContextRef ctx, size_t argc, const JSValueRef argv[], size_t i) {
  const double value = NumberArg(ctx, argc, argv, i);
  if (!std::isfinite(value) || value < -2147483648.0 || value > 2147483647.0 || value != std::floor(value)) {
    throw std::invalid_argument("a tag must be an integer");
  }
  return static_cast<render::Tag>(value);
}

JSValueRef Num(JSContextRef ctx, double v) { return JSValueMakeNumber(ctx, v); }

}  // namespace

enum class FabricUIManager::Op {
  CreateNode,
  CloneNodeWithNewChildren,
  CloneNodeWithNewProps,
  CloneNodeWithNewChildrenAndProps,
  CreateChildSet,
  AppendChild,
  AppendChildToSet,
  CompleteRoot,
  RegisterEventHandler,
  GetCurrentEventPriority,
  Measure,
  MeasureInWindow,
  MeasureLayout,
  GetBoundingClientRect,
  FindNodeAtPoint,
  GetParentNode,
  GetChildNodes,
  CompareDocumentPosition,
  IsConnected,
  DispatchCommand,
  Nothing,  // accepted, no effect here (responder, accessibility, animations)
};

struct FabricUIManager::Binding {
  FabricUIManager* self;
  Op op;
};

FabricUIManager::FabricUIManager(JSGlobalContextRef ctx, std::shared_ptr<HostCore> core, RenderOptions options)
    : ctx_(ctx), core_(std::move(core)), options_(std::move(options)) {
  if (!options_.measurer) options_.measurer = std::make_shared<render::EstimatedTextMeasurer>();

  JSClassDefinition node = kJSClassDefinitionEmpty;
  node.className = "ShadowNode";
  node.finalize = [](JSObjectRef object) { delete static_cast<NodeBox*>(JSObjectGetPrivate(object)); };
  nodeClass_ = JSClassCreate(&node);
  JSClassDefinition childSet = kJSClassDefinitionEmpty;
  childSet.className = "ChildSet";
  childSet.finalize = [](JSObjectRef object) { delete static_cast<ChildSetBox*>(JSObjectGetPrivate(object)); };
  childSetClass_ = JSClassCreate(&childSet);
  JSClassDefinition function = kJSClassDefinitionEmpty;
  function.className = "Function";
  function.callAsFunction = &FabricUIManager::Call;
  functionClass_ = JSClassCreate(&function);

  object_ = JSObjectMake(ctx_, nullptr, nullptr);
  JSValueProtect(ctx_, object_);
  const std::pair<const char*, Op> functions[] = {
      {"createNode", Op::CreateNode},
      {"cloneNodeWithNewChildren", Op::CloneNodeWithNewChildren},
      {"cloneNodeWithNewProps", Op::CloneNodeWithNewProps},
      {"cloneNodeWithNewChildrenAndProps", Op::CloneNodeWithNewChildrenAndProps},
      {"createChildSet", Op::CreateChildSet},
      {"appendChild", Op::AppendChild},
      {"appendChildToSet", Op::AppendChildToSet},
      {"completeRoot", Op::CompleteRoot},
      {"registerEventHandler", Op::RegisterEventHandler},
      {"unstable_getCurrentEventPriority", Op::GetCurrentEventPriority},
      {"measure", Op::Measure},
      {"measureInWindow", Op::MeasureInWindow},
      {"measureLayout", Op::MeasureLayout},
      {"getBoundingClientRect", Op::GetBoundingClientRect},
      {"findNodeAtPoint", Op::FindNodeAtPoint},
      {"getParentNode", Op::GetParentNode},
      {"getChildNodes", Op::GetChildNodes},
      {"compareDocumentPosition", Op::CompareDocumentPosition},
      {"isConnected", Op::IsConnected},
      {"dispatchCommand", Op::DispatchCommand},
      {"setIsJSResponder", Op::Nothing},
      {"sendAccessibilityEvent", Op::Nothing},
      {"configureNextLayoutAnimation", Op::Nothing},
      {"setNativeProps", Op::Nothing},
      {"clearJSResponder", Op::Nothing},
  };
  for (const auto& [name, op] : functions) {
    auto binding = std::make_unique<Binding>(Binding{this, op});
    SetProperty(ctx_, object_, name, JSObjectMake(ctx_, functionClass_, binding.get()));
    bindings_.push_back(std::move(binding));
  }
  SetProperty(ctx_, object_, "unstable_DefaultEventPriority", Num(ctx_, static_cast<int>(EventPriority::Default)));
  SetProperty(ctx_, object_, "unstable_DiscreteEventPriority", Num(ctx_, static_cast<int>(EventPriority::Discrete)));
  SetProperty(ctx_, object_, "unstable_ContinuousEventPriority",
              Num(ctx_, static_cast<int>(EventPriority::Continuous)));
  SetProperty(ctx_, object_, "unstable_IdleEventPriority", Num(ctx_, static_cast<int>(EventPriority::Idle)));
}

FabricUIManager::~FabricUIManager() {
  for (auto& [tag, handle] : handles_) JSValueUnprotect(ctx_, handle);
  handles_.clear();
  if (eventHandler_ != nullptr) JSValueUnprotect(ctx_, eventHandler_);
  JSValueUnprotect(ctx_, object_);
  JSClassRelease(functionClass_);
  JSClassRelease(childSetClass_);
  JSClassRelease(nodeClass_);
}

JSValueRef FabricUIManager::Call(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t argc,
                                 const JSValueRef argv[], JSValueRef* exception) {
  auto* binding = static_cast<Binding*>(JSObjectGetPrivate(function));
  try {
    JSValueRef result = binding->self->Invoke(binding->op, argc, argv);
    return result != nullptr ? result : JSValueMakeUndefined(ctx);
  } catch (const std::exception& e) {
    if (exception != nullptr) {
      JSValueRef message = MakeJsString(ctx, std::string("nativeFabricUIManager: ") + e.what());
      *exception = JSObjectMakeError(ctx, 1, &message, nullptr);
    }
  } catch (...) {
    if (exception != nullptr) *exception = JSObjectMakeError(ctx, 0, nullptr, nullptr);
  }
  return JSValueMakeUndefined(ctx);
}

JSValueRef FabricUIManager::Invoke(Op op, size_t argc, const JSValueRef argv[]) {
  switch (op) {
    case Op::CreateNode:
      return CreateNode(argc, argv);
    case Op::CloneNodeWithNewChildren:
      return CloneNode(argc, argv, true, false);
    case Op::CloneNodeWithNewProps:
      return CloneNode(argc, argv, false, true);
    case Op::CloneNodeWithNewChildrenAndProps:
      return CloneNode(argc, argv, true, true);
    case Op::CreateChildSet:
      return CreateChildSet();
    case Op::AppendChild:
      return AppendChild(argc, argv);
    case Op::AppendChildToSet:
      return AppendChildToSet(argc, argv);
    case Op::CompleteRoot:
      return CompleteRoot(argc, argv);
    case Op::RegisterEventHandler:
      return RegisterEventHandler(argc, argv);
    case Op::GetCurrentEventPriority:
      return Num(ctx_, static_cast<int>(currentPriority_));
    case Op::Measure:
      return Measure(argc, argv, false);
    case Op::MeasureInWindow:
      return Measure(argc, argv, true);
    case Op::MeasureLayout:
      return MeasureLayout(argc, argv);
    case Op::GetBoundingClientRect:
      return BoundingClientRect(argc, argv);
    case Op::FindNodeAtPoint:
      return FindNodeAtPoint(argc, argv);
    case Op::GetParentNode: {
      // The committed parent's instance handle: what the framework's
      // responder and event dispatch walk up through. Null above a
      // surface's top view and for nodes not in the last commit.
      const render::Tag tag = NodeOf(argc > 0 ? argv[0] : nullptr)->tag;
      for (const auto& [rootTag, tree] : surfaces_) {
        const std::optional<render::Tag> parent = tree->ParentOf(tag);
        if (!parent) continue;
        const auto it = handles_.find(*parent);
        return it != handles_.end() ? static_cast<JSValueRef>(it->second) : JSValueMakeNull(ctx_);
      }
      return JSValueMakeNull(ctx_);
    }
    case Op::GetChildNodes: {
      // The committed children's instance handles, in order; a surface's
      // top views for a root ({rootTag}) object.
      std::vector<JSValueRef> children;
      const render::SurfaceTree* tree = nullptr;
      render::Tag tag = 0;
      if (argc > 0 && JSValueIsObjectOfClass(ctx_, argv[0], nodeClass_)) {
        tag = NodeOf(argv[0])->tag;
        for (const auto& [rootTag, surface] : surfaces_) {
          if (render::IsCommitted(*surface, tag)) tree = surface.get();
        }
      } else if (argc > 0 && JSValueIsObject(ctx_, argv[0])) {
        JSValueRef rootTag = JSObjectGetProperty(ctx_, JSValueToObject(ctx_, argv[0], nullptr), JsString("rootTag").get(), nullptr);
        tag = static_cast<render::Tag>(JSValueToNumber(ctx_, rootTag, nullptr));
        const auto it = surfaces_.find(tag);
        if (it != surfaces_.end()) tree = it->second.get();
      }
      if (tree != nullptr) {
        for (render::Tag child : tree->ChildrenOf(tag)) {
          if (const auto it = handles_.find(child); it != handles_.end()) children.push_back(it->second);
        }
      }
      return JSObjectMakeArray(ctx_, children.size(), children.data(), nullptr);
    }
    case Op::CompareDocumentPosition: {
      const render::Tag node = NodeOf(argc > 0 ? argv[0] : nullptr)->tag;
      const render::Tag other = NodeOf(argc > 1 ? argv[1] : nullptr)->tag;
      for (const auto& [rootTag, surface] : surfaces_) {
        if (render::IsCommitted(*surface, node) && render::IsCommitted(*surface, other)) {
          return Num(ctx_, render::CompareDocumentPosition(*surface, node, other));
        }
      }
      return Num(ctx_, render::kPositionDisconnected);
    }
    case Op::IsConnected: {
      const render::Tag tag = NodeOf(argc > 0 ? argv[0] : nullptr)->tag;
      for (const auto& [rootTag, surface] : surfaces_) {
        if (tag != rootTag && render::IsCommitted(*surface, tag)) return JSValueMakeBoolean(ctx_, true);
      }
      return JSValueMakeBoolean(ctx_, false);
    }
    case Op::DispatchCommand:
      return DispatchCommand(argc, argv);
    case Op::Nothing:
      return nullptr;
  }
  return nullptr;
}

// ---- nodes ----------------------------------------------------------------------------

render::ShadowNodePtr FabricUIManager::NodeOf(JSValueRef value) const {
  if (value == nullptr || !JSValueIsObjectOfClass(ctx_, value, nodeClass_)) {
    throw std::invalid_argument("not a shadow node");
  }
  auto* box = static_cast<NodeBox*>(JSObjectGetPrivate(JSValueToObject(ctx_, value, nullptr)));
  if (box == nullptr || !box->node) throw std::invalid_argument("not a shadow node");
  box->sealed = true;  // whoever asks for it now shares it
  return box->node;
}

JSObjectRef FabricUIManager::WrapNode(render::ShadowNodePtr node) {
  return JSObjectMake(ctx_, nodeClass_, new NodeBox{std::move(node), false});
}

JSValueRef FabricUIManager::CreateNode(size_t argc, const JSValueRef argv[]) {
  const render::Tag tag = TagArg(ctx_, argc, argv, 0);
  std::string name = argc > 1 && JSValueIsString(ctx_, argv[1]) ? JsValueToUtf8(ctx_, argv[1]) : std::string();
  if (name.empty()) throw std::invalid_argument("createNode needs a view name");
  const render::Tag rootTag = TagArg(ctx_, argc, argv, 2);
  render::Props props = argc > 3 ? FromJs(ctx_, argv[3]) : render::Props();
  if (!props.is_object()) props = render::Props::object();
  if (argc > 4 && JSValueIsObject(ctx_, argv[4])) {
    JSObjectRef handle = JSValueToObject(ctx_, argv[4], nullptr);
    auto [it, inserted] = handles_.try_emplace(tag, handle);
    if (!inserted) {
      JSValueUnprotect(ctx_, it->second);
      it->second = handle;
    }
    JSValueProtect(ctx_, handle);
  }
  static const render::NativeComponentLookup kNone = [](const std::string&) { return false; };
  return WrapNode(render::MakeShadowNode(tag, std::move(name), rootTag, std::move(props),
                                         options_.isNativeComponent ? options_.isNativeComponent : kNone));
}

JSValueRef FabricUIManager::CloneNode(size_t argc, const JSValueRef argv[], bool newChildren, bool newProps) {
  render::ShadowNodePtr node = NodeOf(argc > 0 ? argv[0] : nullptr);
  render::Props diff;
  if (newProps) {
    diff = argc > 1 ? FromJs(ctx_, argv[1]) : render::Props();
    if (!diff.is_object()) diff = render::Props::object();
  }
  const std::vector<render::ShadowNodePtr> none;
  return WrapNode(render::CloneShadowNode(*node, newProps ? &diff : nullptr, newChildren ? &none : nullptr));
}

JSValueRef FabricUIManager::CreateChildSet() { return JSObjectMake(ctx_, childSetClass_, new ChildSetBox); }

JSValueRef FabricUIManager::AppendChild(size_t argc, const JSValueRef argv[]) {
  if (argc < 2 || !JSValueIsObjectOfClass(ctx_, argv[0], nodeClass_)) throw std::invalid_argument("not a shadow node");
  auto* parent = static_cast<NodeBox*>(JSObjectGetPrivate(JSValueToObject(ctx_, argv[0], nullptr)));
  render::ShadowNodePtr child = NodeOf(argv[1]);
  if (parent == nullptr || !parent->node) throw std::invalid_argument("not a shadow node");
  if (parent->sealed) {
    // Someone shares this node already: grow a copy instead.
    parent->node = render::CloneShadowNode(*parent->node, nullptr, nullptr);
    parent->sealed = false;
  }
  std::const_pointer_cast<render::ShadowNode>(parent->node)->children.push_back(std::move(child));
  return nullptr;
}

JSValueRef FabricUIManager::AppendChildToSet(size_t argc, const JSValueRef argv[]) {
  if (argc < 2 || !JSValueIsObjectOfClass(ctx_, argv[0], childSetClass_)) throw std::invalid_argument("not a child set");
  auto* set = static_cast<ChildSetBox*>(JSObjectGetPrivate(JSValueToObject(ctx_, argv[0], nullptr)));
  set->children.push_back(NodeOf(argv[1]));
  return nullptr;
}

// ---- commit ---------------------------------------------------------------------------

render::SurfaceTree& FabricUIManager::Surface(render::Tag rootTag) {
  auto it = surfaces_.find(rootTag);
  if (it == surfaces_.end()) {
    auto tree = std::make_unique<render::SurfaceTree>(rootTag, options_.measurer);
    tree->SetConstraints(constraints_);
    it = surfaces_.emplace(rootTag, std::move(tree)).first;
  }
  return *it->second;
}

JSValueRef FabricUIManager::CompleteRoot(size_t argc, const JSValueRef argv[]) {
  const render::Tag rootTag = TagArg(ctx_, argc, argv, 0);
  if (argc < 2 || !JSValueIsObjectOfClass(ctx_, argv[1], childSetClass_)) throw std::invalid_argument("not a child set");
  auto* set = static_cast<ChildSetBox*>(JSObjectGetPrivate(JSValueToObject(ctx_, argv[1], nullptr)));
  std::vector<std::string> warnings;
  render::MountTransaction transaction = Surface(rootTag).Commit(set->children, &warnings);
  for (const auto& warning : warnings) Warn(warning);
  Mount(std::move(transaction));
  return nullptr;
}

void FabricUIManager::SetConstraints(const render::LayoutConstraints& constraints) {
  constraints_ = constraints;
  for (auto& [rootTag, tree] : surfaces_) {
    if (tree->Constraints() == constraints) continue;
    tree->SetConstraints(constraints);
    Mount(tree->Relayout());
  }
}

void FabricUIManager::Mount(render::MountTransaction transaction) {
  ReleaseDeleted(transaction);
  if (transaction.ops.empty()) return;
  const render::Tag rootTag = transaction.rootTag;
  auto layouts = layouts_.Collect(transaction, [this, rootTag](render::Tag tag) -> render::ViewModelPtr {
    const auto surface = surfaces_.find(rootTag);
    if (surface == surfaces_.end()) return nullptr;
    const render::ShadowNodePtr node = surface->second->Find(tag);
    return node ? node->model : nullptr;
  });
  if (options_.mount) options_.mount(std::move(transaction));
  // Heard after the commit that laid the views out, never inside it.
  for (auto& event : layouts) {
    core_->PostJs([event] {
      if (auto* runtime = JsRuntime::Current()) {
        runtime->DispatchViewEvent(event.tag, "topLayout", render::LayoutEventPayload(event.frame));
      }
    });
  }
}

void FabricUIManager::ReleaseDeleted(const render::MountTransaction& transaction) {
  for (const auto& op : transaction.ops) {
    if (op.kind != render::MountKind::Delete) continue;
    if (auto it = handles_.find(op.tag); it != handles_.end()) {
      JSValueUnprotect(ctx_, it->second);
      handles_.erase(it);
    }
  }
}

void FabricUIManager::Warn(const std::string& line) {
  if (!warned_.insert(line).second) return;
  core_->Write(ConsoleStream::Err, "talvek: " + line);
}

// ---- events -----------------------------------------------------------------------------

JSValueRef FabricUIManager::RegisterEventHandler(size_t argc, const JSValueRef argv[]) {
  if (argc < 1 || !JSValueIsObject(ctx_, argv[0])) throw std::invalid_argument("the event handler must be a function");
  JSObjectRef handler = JSValueToObject(ctx_, argv[0], nullptr);
  if (!JSObjectIsFunction(ctx_, handler)) throw std::invalid_argument("the event handler must be a function");
  if (eventHandler_ != nullptr) JSValueUnprotect(ctx_, eventHandler_);
  eventHandler_ = handler;
  JSValueProtect(ctx_, eventHandler_);
  return nullptr;
}

namespace {

EventPriority PriorityOf(const std::string& type) {
  static const char* const kContinuous[] = {"topTouchMove", "topPointerMove", "topScroll", "topMouseMove",
                                            "topPointerOver", "topPointerOut"};
  for (const char* name : kContinuous) {
    if (type == name) return EventPriority::Continuous;
  }
  return EventPriority::Discrete;
}

}  // namespace

void FabricUIManager::DispatchEvent(render::Tag tag, const std::string& type, const JSValue& payload) {
  // A text input grows and shrinks with what is typed into it, before the
  // bundle hears of it (as the native side's state would).
  if (type == "topChange" && payload.is_object()) {
    if (const auto text = payload.find("text"); text != payload.end() && text->is_string()) {
      for (auto& [rootTag, tree] : surfaces_) {
        if (tree->SetInputText(tag, text->get<std::string>())) Mount(tree->Relayout());
      }
    }
  }
  if (eventHandler_ == nullptr) return;
  auto it = handles_.find(tag);
  if (it == handles_.end()) return;
  JSValueRef args[] = {it->second, MakeJsString(ctx_, type), ToJs(ctx_, payload)};
  const EventPriority previous = currentPriority_;
  currentPriority_ = PriorityOf(type);
  JSValueRef exception = nullptr;
  JSObjectCallAsFunction(ctx_, eventHandler_, nullptr, 3, args, &exception);
  currentPriority_ = previous;
  if (exception != nullptr) {
    core_->NoteScriptError();
    core_->Write(ConsoleStream::Err, "Uncaught (in an event handler) " + JsValueToUtf8(ctx_, exception));
  }
}

// ---- measuring ---------------------------------------------------------------------------

std::optional<render::Rect> FabricUIManager::AbsoluteFrame(render::Tag tag) const {
  for (const auto& [rootTag, tree] : surfaces_) {
    if (auto frame = tree->AbsoluteFrame(tag)) return frame;
  }
  return std::nullopt;
}

void FabricUIManager::CallBack(JSValueRef callback, size_t argc, const JSValueRef argv[]) {
  if (callback == nullptr || !JSValueIsObject(ctx_, callback)) return;
  JSObjectRef function = JSValueToObject(ctx_, callback, nullptr);
  if (!JSObjectIsFunction(ctx_, function)) return;
  JSValueRef exception = nullptr;
  JSObjectCallAsFunction(ctx_, function, nullptr, argc, argv, &exception);
  if (exception != nullptr) {
    core_->NoteScriptError();
    core_->Write(ConsoleStream::Err, "Uncaught " + JsValueToUtf8(ctx_, exception));
  }
}

JSValueRef FabricUIManager::Measure(size_t argc, const JSValueRef argv[], bool inWindow) {
  render::ShadowNodePtr node = NodeOf(argc > 0 ? argv[0] : nullptr);
  const JSValueRef callback = argc > 1 ? argv[1] : nullptr;
  std::optional<render::Rect> absolute;
  std::optional<render::LayoutMetrics> metrics;
  for (const auto& [rootTag, tree] : surfaces_) {
    if ((absolute = tree->AbsoluteFrame(node->tag))) {
      metrics = tree->Metrics(node->tag);
      break;
    }
  }
  if (!absolute) {
    // Not mounted (yet): React Native answers with zeros.
    JSValueRef zeros[] = {Num(ctx_, 0), Num(ctx_, 0), Num(ctx_, 0), Num(ctx_, 0), Num(ctx_, 0), Num(ctx_, 0)};
    CallBack(callback, inWindow ? 4 : 6, zeros);
    return nullptr;
  }
  if (inWindow) {
    JSValueRef args[] = {Num(ctx_, absolute->x), Num(ctx_, absolute->y), Num(ctx_, absolute->width),
                         Num(ctx_, absolute->height)};
    CallBack(callback, 4, args);
  } else {
    const render::Rect local = metrics ? metrics->frame : *absolute;
    JSValueRef args[] = {Num(ctx_, local.x),        Num(ctx_, local.y),       Num(ctx_, absolute->width),
                         Num(ctx_, absolute->height), Num(ctx_, absolute->x), Num(ctx_, absolute->y)};
    CallBack(callback, 6, args);
  }
  return nullptr;
}

JSValueRef FabricUIManager::MeasureLayout(size_t argc, const JSValueRef argv[]) {
  render::ShadowNodePtr node = NodeOf(argc > 0 ? argv[0] : nullptr);
  render::ShadowNodePtr relative = NodeOf(argc > 1 ? argv[1] : nullptr);
  const auto frame = AbsoluteFrame(node->tag);
  const auto base = AbsoluteFrame(relative->tag);
  if (!frame || !base) {
    CallBack(argc > 2 ? argv[2] : nullptr, 0, nullptr);
    return nullptr;
  }
  JSValueRef args[] = {Num(ctx_, frame->x - base->x), Num(ctx_, frame->y - base->y), Num(ctx_, frame->width),
                       Num(ctx_, frame->height)};
  CallBack(argc > 3 ? argv[3] : nullptr, 4, args);
  return nullptr;
}

JSValueRef FabricUIManager::BoundingClientRect(size_t argc, const JSValueRef argv[]) {
  render::ShadowNodePtr node = NodeOf(argc > 0 ? argv[0] : nullptr);
  const render::Rect frame = AbsoluteFrame(node->tag).value_or(render::Rect{});
  JSValueRef values[] = {Num(ctx_, frame.x), Num(ctx_, frame.y), Num(ctx_, frame.width), Num(ctx_, frame.height)};
  return JSObjectMakeArray(ctx_, 4, values, nullptr);
}

JSValueRef FabricUIManager::FindNodeAtPoint(size_t argc, const JSValueRef argv[]) {
  // Hit testing belongs to the drawn tree on the UI thread; inspectors that
  // ask here get no node.
  JSValueRef none = JSValueMakeNull(ctx_);
  CallBack(argc > 3 ? argv[3] : nullptr, 1, &none);
  return nullptr;
}

JSValueRef FabricUIManager::DispatchCommand(size_t argc, const JSValueRef argv[]) {
  render::ShadowNodePtr node = NodeOf(argc > 0 ? argv[0] : nullptr);
  const std::string command = argc > 1 ? JsValueToUtf8(ctx_, argv[1]) : std::string();
  const JSValue args = argc > 2 ? FromJs(ctx_, argv[2]) : JSValue::array();
  if (options_.command) options_.command(node->tag, command, args);
  return nullptr;
}

}  // namespace VirelantDesktop::host
