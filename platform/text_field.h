// A native text field placed in a view's container: one line (an entry) or
// several (a text view that scrolls). The text input component drives it
// and hears what the user does. UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace VirelantDesktop::platform {

// A key the user pressed in the field, before the field handles it.
struct TextFieldKey {
  enum class Name { None, Enter, Backspace, Delete, Tab, Escape, ArrowLeft, ArrowRight, ArrowUp, ArrowDown };
  Name name = Name::None;
  std::string typed;  // the text the key types (UTF-8), "" for none
  bool shift = false;
};

struct TextFieldEvents {
  std::function<void(const std::string& text)> changed;  // the user (or an input method) changed the text
  std::function<void(int start, int end)> selectionChanged;  // in characters
  std::function<void()> focused;
  std::function<void()> blurred;
  // Before the field sees the key: true when the key is taken (Enter that
  // submits), false to let the field have it.
  std::function<bool(const TextFieldKey& key)> key;
};

class TextField {
 public:
  virtual ~TextField() = default;
  // Sets the text without reporting a change.
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
  // Characters; clamped to the text.
  virtual void SetSelection(int start, int end) = 0;
  virtual void SetPlaceholder(const std::string& text) = 0;
  virtual void SetEditable(bool editable) = 0;
  virtual void SetSecure(bool secure) = 0;  // one line only
  // Logical pixels; colours 0xAARRGGBB, nullopt for the theme's.
  virtual void SetFont(float size, std::optional<uint32_t> color) = 0;
  // The space between the field's edges and its text (logical pixels).
  virtual void SetPadding(float left, float top, float right, float bottom) = 0;
  virtual void Focus() = 0;
  virtual void Blur() = 0;
};

// The field inside `parent` (a GtkContainer), filling it.
std::unique_ptr<TextField> MakeGtkTextField(void* parent, bool multiline, TextFieldEvents events);

}  // namespace VirelantDesktop::platform
