// React Native's text inputs as native view components: a toolkit text
// field on the view's frame that follows the props, reports the user's
// changes, selection, keys, focus and submits, and takes the focus, blur
// and setTextAndSelection commands.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "bridge/package_provider.h"
#include "bridge/view_component_builder.h"
#include "platform/text_field.h"
#include "render/text_input.h"

namespace VirelantDesktop::TextInput {

inline constexpr std::array<const char*, 3> kComponentNames = {"RCTSinglelineTextInputView", "RCTMultilineTextInputView",
                                                             "AndroidTextInput"};

// What a text input view does, given a field (null when headless).
class TextInputView {
 public:
  using Emit = std::function<void(const std::string& eventName, JSValue payload)>;
  TextInputView(int32_t tag, std::string componentName);

  // The field to drive (set once, at mount); its events come back here.
  platform::TextFieldEvents FieldEvents();
  void SetField(std::unique_ptr<platform::TextField> field) { field_ = std::move(field); }
  void SetEmitter(Emit emit) { emit_ = std::move(emit); }

  // `changed`: the props set since the last call (null: removed).
  void UpdateProps(const JSValue& changed);
  void Command(const std::string& command, const JSValue& args);

  // The field's events (public for the tests, which have no toolkit).
  void OnChanged(const std::string& text);
  void OnSelection(int start, int end);
  void OnFocus();
  void OnBlur();
  bool OnKey(const platform::TextFieldKey& key);

  const render::TextInputProps& Props() const noexcept { return props_; }

 private:
  void Send(const char* eventName, JSValue payload);

  int32_t tag_;
  std::string componentName_;
  JSValue values_ = JSValue::object();  // the props so far
  render::TextInputProps props_;
  bool firstProps_ = true;
  render::TextInputChanges changes_;
  std::unique_ptr<platform::TextField> field_;
  Emit emit_;
};

// Configures one of kComponentNames.
void ConfigureTextInputComponent(const std::string& componentName, IReactViewComponentBuilder& builder);

// A package with the three components.
class TextInputPackageProvider final : public IReactPackageProvider {
 public:
  void CreatePackage(IReactPackageBuilder& builder) override;
};

}  // namespace VirelantDesktop::TextInput
