#include "render/text_input.h"

#include <cmath>

#include "render/color.h"
#include "render/view_props.h"

namespace VirelantDesktop::render {
namespace {

bool BoolProp(const Props& props, const char* key, bool fallback) {
  const auto it = props.find(key);
  return it != props.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::optional<std::string> StringProp(const Props& props, const char* key) {
  const auto it = props.find(key);
  if (it == props.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<int> IntArg(const Props& args, size_t index) {
  if (!args.is_array() || index >= args.size() || !args[index].is_number()) return std::nullopt;
  const double value = args[index].get<double>();
  if (!std::isfinite(value) || value < 0 || value > 1e9) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

bool IsTextInputComponent(std::string_view componentName) noexcept {
  return componentName == "RCTSinglelineTextInputView" || componentName == "RCTMultilineTextInputView" ||
         componentName == "AndroidTextInput";
}

TextInputProps ParseTextInputProps(std::string_view componentName, const Props& props) {
  TextInputProps input;
  input.multiline = componentName == "RCTMultilineTextInputView";
  if (!props.is_object()) return input;
  input.multiline = BoolProp(props, "multiline", input.multiline);
  input.editable = BoolProp(props, "editable", true);
  input.secure = BoolProp(props, "secureTextEntry", false);
  input.autoFocus = BoolProp(props, "autoFocus", false);
  input.text = StringProp(props, "text");
  if (!input.text) input.text = StringProp(props, "value");
  input.defaultText = StringProp(props, "defaultValue").value_or("");
  input.placeholder = StringProp(props, "placeholder").value_or("");
  if (const auto it = props.find("placeholderTextColor"); it != props.end()) input.placeholderColor = ParseColor(*it);
  if (const auto it = props.find("color"); it != props.end()) input.color = ParseColor(*it);
  if (const auto it = props.find("maxLength"); it != props.end()) {
    if (const auto n = FiniteNumber(*it); n && *n >= 0 && *n < 1e9) input.maxLength = static_cast<int>(*n);
  }
  if (const auto it = props.find("fontSize"); it != props.end()) {
    if (const auto n = FiniteNumber(*it); n && *n > 0 && *n < 1000) input.fontSize = static_cast<float>(*n);
  }
  const auto submit = StringProp(props, "submitBehavior");
  if (submit == "submit") {
    input.submit = SubmitBehavior::Submit;
  } else if (submit == "blurAndSubmit") {
    input.submit = SubmitBehavior::BlurAndSubmit;
  } else if (submit == "newline") {
    input.submit = input.multiline ? SubmitBehavior::Newline : SubmitBehavior::BlurAndSubmit;
  } else {
    input.submit = input.multiline ? SubmitBehavior::Newline : SubmitBehavior::BlurAndSubmit;
  }
  return input;
}

EdgeInsets TextInputPadding(const Props& props) {
  EdgeInsets insets;
  if (!props.is_object()) return insets;
  auto number = [&](const char* key) -> std::optional<float> {
    const auto it = props.find(key);
    if (it == props.end()) return std::nullopt;
    const auto n = FiniteNumber(*it);
    if (!n || *n < 0 || *n > 1e4) return std::nullopt;
    return static_cast<float>(*n);
  };
  const float all = number("padding").value_or(0);
  const float vertical = number("paddingVertical").value_or(all);
  const float horizontal = number("paddingHorizontal").value_or(all);
  insets.top = number("paddingTop").value_or(vertical);
  insets.bottom = number("paddingBottom").value_or(vertical);
  insets.left = number("paddingLeft").value_or(number("paddingStart").value_or(horizontal));
  insets.right = number("paddingRight").value_or(number("paddingEnd").value_or(horizontal));
  return insets;
}

EnterAction ActionForEnter(const TextInputProps& props, bool shift) noexcept {
  if (props.multiline && (shift || props.submit == SubmitBehavior::Newline)) return EnterAction::Newline;
  return props.submit == SubmitBehavior::Submit ? EnterAction::Submit : EnterAction::SubmitAndBlur;
}

std::string KeyPressName(NamedKey key, std::string_view typed) {
  switch (key) {
    case NamedKey::Enter: return "Enter";
    case NamedKey::Backspace: return "Backspace";
    case NamedKey::Delete: return "Delete";
    case NamedKey::Tab: return "Tab";
    case NamedKey::Escape: return "Escape";
    case NamedKey::ArrowLeft: return "ArrowLeft";
    case NamedKey::ArrowRight: return "ArrowRight";
    case NamedKey::ArrowUp: return "ArrowUp";
    case NamedKey::ArrowDown: return "ArrowDown";
    case NamedKey::None: break;
  }
  return std::string(typed);
}

std::string LimitTextLength(std::string_view text, std::optional<int> maxLength) {
  if (!maxLength) return std::string(text);
  size_t at = 0;
  for (int counted = 0; at < text.size() && counted < *maxLength; ++counted) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return std::string(text.substr(0, at));
}

Props TextInputChanges::UserChanged(Tag tag, const std::string& text) {
  ++eventCount_;
  return Props{{"text", text}, {"eventCount", eventCount_}, {"target", tag}};
}

std::optional<TextInputChanges::Update> TextInputChanges::SetTextAndSelection(const Props& args) const {
  if (!args.is_array() || args.empty() || !args[0].is_number()) return std::nullopt;
  const double count = args[0].get<double>();
  if (!std::isfinite(count) || count < static_cast<double>(eventCount_)) return std::nullopt;
  Update update;
  if (args.size() > 1 && args[1].is_string()) update.text = args[1].get<std::string>();
  const auto start = IntArg(args, 2);
  const auto end = IntArg(args, 3);
  if (start && end) {
    update.start = std::min(*start, *end);
    update.end = std::max(*start, *end);
  }
  return update;
}

Props SelectionPayload(Tag tag, int start, int end) {
  return Props{{"selection", {{"start", start}, {"end", end}}}, {"target", tag}};
}

Props TextPayload(Tag tag, const std::string& text) { return Props{{"text", text}, {"target", tag}}; }

Props KeyPressPayload(Tag tag, const std::string& key) { return Props{{"key", key}, {"target", tag}}; }

Props FocusPayload(Tag tag) { return Props{{"target", tag}}; }

}  // namespace VirelantDesktop::render
