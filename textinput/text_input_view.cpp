#include "textinput/text_input_view.h"

#include "bridge/view_component.h"

namespace VirelantDesktop::TextInput {
namespace {

render::NamedKey NamedKeyOf(platform::TextFieldKey::Name name) {
  using Name = platform::TextFieldKey::Name;
  switch (name) {
    case Name::Enter: return render::NamedKey::Enter;
    case Name::Backspace: return render::NamedKey::Backspace;
    case Name::Delete: return render::NamedKey::Delete;
    case Name::Tab: return render::NamedKey::Tab;
    case Name::Escape: return render::NamedKey::Escape;
    case Name::ArrowLeft: return render::NamedKey::ArrowLeft;
    case Name::ArrowRight: return render::NamedKey::ArrowRight;
    case Name::ArrowUp: return render::NamedKey::ArrowUp;
    case Name::ArrowDown: return render::NamedKey::ArrowDown;
    case Name::None: break;
  }
  return render::NamedKey::None;
}

std::optional<uint32_t> Argb(const std::optional<render::Color>& color) {
  if (!color) return std::nullopt;
  return (uint32_t{color->a} << 24) | (uint32_t{color->r} << 16) | (uint32_t{color->g} << 8) | color->b;
}

}  // namespace

TextInputView::TextInputView(int32_t tag, std::string componentName)
    : tag_(tag), componentName_(std::move(componentName)), props_(render::ParseTextInputProps(componentName_, JSValue::object())) {}

platform::TextFieldEvents TextInputView::FieldEvents() {
  platform::TextFieldEvents events;
  events.changed = [this](const std::string& text) { OnChanged(text); };
  events.selectionChanged = [this](int start, int end) { OnSelection(start, end); };
  events.focused = [this] { OnFocus(); };
  events.blurred = [this] { OnBlur(); };
  events.key = [this](const platform::TextFieldKey& key) { return OnKey(key); };
  return events;
}

void TextInputView::Send(const char* eventName, JSValue payload) {
  if (emit_) emit_(eventName, std::move(payload));
}

void TextInputView::UpdateProps(const JSValue& changed) {
  // Later commits bring the changed props only (null: removed).
  if (changed.is_object()) {
    for (const auto& [name, value] : changed.items()) {
      if (value.is_null()) {
        values_.erase(name);
      } else {
        values_[name] = value;
      }
    }
  }
  props_ = render::ParseTextInputProps(componentName_, values_);
  if (!field_) {
    firstProps_ = false;
    return;
  }
  field_->SetPlaceholder(props_.placeholder);
  field_->SetEditable(props_.editable);
  field_->SetSecure(props_.secure);
  field_->SetFont(props_.fontSize, Argb(props_.color));
  const render::EdgeInsets padding = render::TextInputPadding(values_);
  field_->SetPadding(padding.left, padding.top, padding.right, padding.bottom);
  // A text the bundle set before it saw the user's latest change is stale:
  // the user typed on meanwhile, and the bundle answers that change next.
  const auto seen = values_.find("mostRecentEventCount");
  const bool current = seen == values_.end() || !seen->is_number() || seen->get<double>() >= changes_.EventCount();
  if (props_.text && current) {
    field_->SetText(render::LimitTextLength(*props_.text, props_.maxLength));
  } else if (firstProps_) {
    field_->SetText(render::LimitTextLength(props_.defaultText, props_.maxLength));
  }
  if (firstProps_ && props_.autoFocus) field_->Focus();
  firstProps_ = false;
}

void TextInputView::Command(const std::string& command, const JSValue& args) {
  if (!field_) return;
  if (command == "focus") {
    field_->Focus();
  } else if (command == "blur") {
    field_->Blur();
  } else if (command == "setTextAndSelection") {
    const auto update = changes_.SetTextAndSelection(args);
    if (!update) return;
    if (update->text) field_->SetText(render::LimitTextLength(*update->text, props_.maxLength));
    if (update->start && update->end) field_->SetSelection(*update->start, *update->end);
  }
}

void TextInputView::OnChanged(const std::string& text) {
  std::string kept = render::LimitTextLength(text, props_.maxLength);
  if (kept != text && field_) field_->SetText(kept);
  Send("change", changes_.UserChanged(tag_, kept));
}

void TextInputView::OnSelection(int start, int end) { Send("selectionChange", render::SelectionPayload(tag_, start, end)); }

void TextInputView::OnFocus() { Send("focus", render::FocusPayload(tag_)); }

void TextInputView::OnBlur() {
  Send("blur", render::FocusPayload(tag_));
  Send("endEditing", render::TextPayload(tag_, field_ ? field_->Text() : std::string()));
}

bool TextInputView::OnKey(const platform::TextFieldKey& key) {
  const std::string name = render::KeyPressName(NamedKeyOf(key.name), key.typed);
  if (!name.empty()) Send("keyPress", render::KeyPressPayload(tag_, name));
  if (key.name != platform::TextFieldKey::Name::Enter) return false;
  switch (render::ActionForEnter(props_, key.shift)) {
    case render::EnterAction::Newline:
      return false;  // the field breaks the line
    case render::EnterAction::Submit:
      Send("submitEditing", render::TextPayload(tag_, field_ ? field_->Text() : std::string()));
      return true;
    case render::EnterAction::SubmitAndBlur:
      Send("submitEditing", render::TextPayload(tag_, field_ ? field_->Text() : std::string()));
      if (field_) field_->Blur();
      return true;
  }
  return true;
}

void ConfigureTextInputComponent(const std::string& componentName, IReactViewComponentBuilder& builder) {
  for (const char* event : {"change", "selectionChange", "submitEditing", "endEditing", "focus", "blur", "keyPress",
                            "contentSizeChange"}) {
    builder.AddDirectEvent(event);
  }
  for (const char* prop : {"text", "value", "defaultValue", "placeholder", "multiline", "editable", "secureTextEntry",
                           "autoFocus", "maxLength", "submitBehavior", "fontSize"}) {
    builder.AddNativeProp(prop, "String");
  }
  builder.AddNativeProp("placeholderTextColor", "Color");
  builder.AddNativeProp("color", "Color");
  builder.SetMountHandler([componentName](IComponentView& view) {
    auto input = std::make_shared<TextInputView>(view.Tag(), componentName);
    const bool multiline = componentName == "RCTMultilineTextInputView";
    input->SetField(platform::MakeGtkTextField(view.NativeParent(), multiline, input->FieldEvents()));
    view.UserData() = input;
  });
  builder.SetUpdatePropsHandler([](IComponentView& view, const ComponentPropsPtr& now, const ComponentPropsPtr&) {
    auto input = std::static_pointer_cast<TextInputView>(view.UserData());
    const auto* props = dynamic_cast<const PlainComponentProps*>(now.get());
    if (input && props) input->UpdateProps(props->Values());
  });
  builder.SetUpdateEventEmitterHandler([](IComponentView& view, const ComponentEventEmitterPtr& emitter) {
    auto input = std::static_pointer_cast<TextInputView>(view.UserData());
    if (!input) return;
    input->SetEmitter([emitter](const std::string& eventName, JSValue payload) {
      if (emitter) emitter->DispatchEvent(eventName, std::move(payload));
    });
  });
  builder.SetUpdateLayoutMetricsHandler(
      [](IComponentView&, const ComponentLayoutMetrics&, const ComponentLayoutMetrics&) {});  // the field fills its parent
  builder.SetCustomCommandHandler([](IComponentView& view, const std::string& command, const JSValue& args) {
    if (auto input = std::static_pointer_cast<TextInputView>(view.UserData())) input->Command(command, args);
  });
  builder.SetUnmountHandler([](IComponentView& view) { view.UserData().reset(); });
}

void TextInputPackageProvider::CreatePackage(IReactPackageBuilder& builder) {
  auto* fabric = dynamic_cast<IReactPackageBuilderFabric*>(&builder);
  if (fabric == nullptr) return;
  for (const char* name : kComponentNames) {
    const std::string component = name;
    fabric->AddViewComponent(component, [component](IReactViewComponentBuilder& view) {
      ConfigureTextInputComponent(component, view);
    });
  }
}

}  // namespace VirelantDesktop::TextInput
