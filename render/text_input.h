// React Native's text inputs as the host sees them: the component names,
// the props the native widget follows, and the rules of the native side of
// the conversation (counted changes, commands that answer an older change,
// what Enter does, the key names of onKeyPress). No toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "render/render_types.h"

namespace VirelantDesktop::render {

// "RCTSinglelineTextInputView", "RCTMultilineTextInputView" (iOS'
// configuration) and "AndroidTextInput".
bool IsTextInputComponent(std::string_view componentName) noexcept;

enum class SubmitBehavior { Submit, BlurAndSubmit, Newline };

struct TextInputProps {
  bool multiline = false;
  bool editable = true;
  bool secure = false;  // secureTextEntry
  bool autoFocus = false;
  std::optional<std::string> text;  // "text" / "value": what the bundle wants shown
  std::string defaultText;          // "defaultValue"
  std::string placeholder;
  std::optional<Color> placeholderColor;
  std::optional<Color> color;
  std::optional<int> maxLength;  // in characters (code points)
  SubmitBehavior submit = SubmitBehavior::BlurAndSubmit;
  float fontSize = 14;
  bool operator==(const TextInputProps&) const = default;
};

// Single-line inputs default to blur-and-submit, multi-line ones to a new
// line; "newline" on a single line means blur-and-submit, as the bundle's
// own TextInput resolves it.
TextInputProps ParseTextInputProps(std::string_view componentName, const Props& props);

// The padding the text sits in, from the padding props (logical pixels;
// the specific sides over the vertical / horizontal ones over "padding";
// start and end taken as left and right).
EdgeInsets TextInputPadding(const Props& props);

// What Enter does in an input: a multi-line input that submits still takes
// Shift+Enter as a new line.
enum class EnterAction { Submit, SubmitAndBlur, Newline };
EnterAction ActionForEnter(const TextInputProps& props, bool shift) noexcept;

// The name onKeyPress gives a key: "Enter", "Backspace", "Tab", "Escape",
// "ArrowLeft"... for the keys it names, else the text it types (one
// character, " " for the space bar); "" for keys that neither have a name
// here nor type anything.
enum class NamedKey { None, Enter, Backspace, Delete, Tab, Escape, ArrowLeft, ArrowRight, ArrowUp, ArrowDown };
std::string KeyPressName(NamedKey key, std::string_view typed);

// `text` cut to `maxLength` code points (whole UTF-8 sequences).
std::string LimitTextLength(std::string_view text, std::optional<int> maxLength);

// The native side's count of the user's changes. Every change the user
// makes is sent with the next count; a setTextAndSelection command carries
// the count the bundle had seen, and one older than the last change is
// dropped (the user typed on meanwhile: the bundle will answer that too).
class TextInputChanges {
 public:
  // The user changed the text to `text`: the "topChange" payload.
  Props UserChanged(Tag tag, const std::string& text);
  struct Update {
    std::optional<std::string> text;   // nullopt: keep the text
    std::optional<int> start, end;     // the selection, when the command gives one
  };
  // setTextAndSelection [eventCount, text or null, start, end]; nullopt
  // when stale or malformed.
  std::optional<Update> SetTextAndSelection(const Props& args) const;
  int64_t EventCount() const noexcept { return eventCount_; }

 private:
  int64_t eventCount_ = 0;
};

// The payloads of the other events.
Props SelectionPayload(Tag tag, int start, int end);  // topSelectionChange
Props TextPayload(Tag tag, const std::string& text);  // topSubmitEditing, topEndEditing
Props KeyPressPayload(Tag tag, const std::string& key);
Props FocusPayload(Tag tag);  // topFocus, topBlur

}  // namespace VirelantDesktop::render
