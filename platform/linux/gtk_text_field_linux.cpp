// Text fields on GTK 3: a frameless GtkEntry for one line, a word-wrapping
// GtkTextView in a scrolled window (with a placeholder label over it) for
// several. Changes made through SetText are not reported back.
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/text_field.h"

namespace VirelantDesktop::platform {
namespace {

std::string CssColor(uint32_t argb) {
  char text[64];
  std::snprintf(text, sizeof text, "rgba(%u,%u,%u,%.3f)", (argb >> 16) & 0xff, (argb >> 8) & 0xff, argb & 0xff,
                static_cast<double>((argb >> 24) & 0xff) / 255.0);
  return text;
}

TextFieldKey KeyOf(const GdkEventKey* event) {
  TextFieldKey key;
  key.shift = (event->state & GDK_SHIFT_MASK) != 0;
  switch (event->keyval) {
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: key.name = TextFieldKey::Name::Enter; break;
    case GDK_KEY_BackSpace: key.name = TextFieldKey::Name::Backspace; break;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: key.name = TextFieldKey::Name::Delete; break;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: key.name = TextFieldKey::Name::Tab; break;
    case GDK_KEY_Escape: key.name = TextFieldKey::Name::Escape; break;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: key.name = TextFieldKey::Name::ArrowLeft; break;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: key.name = TextFieldKey::Name::ArrowRight; break;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: key.name = TextFieldKey::Name::ArrowUp; break;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: key.name = TextFieldKey::Name::ArrowDown; break;
    default: {
      const gunichar c = gdk_keyval_to_unicode(event->keyval);
      if (c >= 0x20 && c != 0x7f && (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) == 0) {
        char utf8[8] = {};
        key.typed.assign(utf8, static_cast<size_t>(g_unichar_to_utf8(c, utf8)));
      }
      break;
    }
  }
  return key;
}

class GtkTextField final : public TextField {
 public:
  GtkTextField(void* parent, bool multiline, TextFieldEvents events)
      : multiline_(multiline), events_(std::move(events)) {
    css_ = gtk_css_provider_new();
    if (multiline_) {
      scrolled_ = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled_), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
      text_ = gtk_text_view_new();
      gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text_), GTK_WRAP_WORD_CHAR);
      gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(text_), FALSE);  // Tab moves the focus on, as in a page
      gtk_container_add(GTK_CONTAINER(scrolled_), text_);
      // The placeholder is drawn over the empty text (a widget above it
      // would sit in the way of the pointer).
      g_signal_connect_after(text_, "draw", G_CALLBACK(&GtkTextField::OnDrawPlaceholder), this);
      root_ = scrolled_;
      input_ = text_;
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
      g_signal_connect(buffer, "changed", G_CALLBACK(&GtkTextField::OnBufferChanged), this);
      g_signal_connect(buffer, "notify::cursor-position", G_CALLBACK(&GtkTextField::OnSelection), this);
      g_signal_connect(buffer, "mark-set", G_CALLBACK(&GtkTextField::OnMarkSet), this);
    } else {
      entry_ = gtk_entry_new();
      gtk_entry_set_has_frame(GTK_ENTRY(entry_), FALSE);
      root_ = entry_;
      input_ = entry_;
      g_signal_connect(entry_, "changed", G_CALLBACK(&GtkTextField::OnEntryChanged), this);
      g_signal_connect(entry_, "notify::cursor-position", G_CALLBACK(&GtkTextField::OnSelection), this);
      g_signal_connect(entry_, "notify::selection-bound", G_CALLBACK(&GtkTextField::OnSelection), this);
    }
    gtk_style_context_add_provider(gtk_widget_get_style_context(input_), GTK_STYLE_PROVIDER(css_),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_signal_connect(input_, "key-press-event", G_CALLBACK(&GtkTextField::OnKey), this);
    g_signal_connect(input_, "focus-in-event", G_CALLBACK(&GtkTextField::OnFocusIn), this);
    g_signal_connect(input_, "focus-out-event", G_CALLBACK(&GtkTextField::OnFocusOut), this);
    gtk_widget_set_hexpand(root_, TRUE);
    gtk_widget_set_vexpand(root_, TRUE);
    gtk_container_add(GTK_CONTAINER(parent), root_);
    gtk_widget_show_all(root_);
    ApplyCss();
  }

  ~GtkTextField() override {
    g_signal_handlers_disconnect_by_data(input_, this);
    if (multiline_) g_signal_handlers_disconnect_by_data(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_)), this);
    if (GtkWidget* parent = gtk_widget_get_parent(root_)) gtk_container_remove(GTK_CONTAINER(parent), root_);
    g_object_unref(css_);
  }

  void SetText(const std::string& text) override {
    if (text == Text()) return;
    quiet_ = true;
    if (multiline_) {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
      gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<gint>(text.size()));
      GtkTextIter end;
      gtk_text_buffer_get_end_iter(buffer, &end);
      gtk_text_buffer_place_cursor(buffer, &end);  // typing goes on at the end
    } else {
      gtk_entry_set_text(GTK_ENTRY(entry_), text.c_str());
      gtk_editable_set_position(GTK_EDITABLE(entry_), -1);  // typing goes on at the end
    }
    quiet_ = false;
    UpdatePlaceholder();
  }

  std::string Text() const override {
    if (!multiline_) return gtk_entry_get_text(GTK_ENTRY(entry_));
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string out = text != nullptr ? text : "";
    g_free(text);
    return out;
  }

  void SetSelection(int start, int end) override {
    quiet_ = true;
    if (multiline_) {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
      GtkTextIter a, b;
      gtk_text_buffer_get_iter_at_offset(buffer, &a, std::max(0, start));
      gtk_text_buffer_get_iter_at_offset(buffer, &b, std::max(0, end));
      gtk_text_buffer_select_range(buffer, &b, &a);
    } else {
      gtk_editable_select_region(GTK_EDITABLE(entry_), std::max(0, start), std::max(0, end));
    }
    quiet_ = false;
  }

  void SetPlaceholder(const std::string& text) override {
    placeholderText_ = text;
    if (multiline_) {
      gtk_widget_queue_draw(text_);
    } else {
      gtk_entry_set_placeholder_text(GTK_ENTRY(entry_), text.c_str());
    }
  }

  void SetEditable(bool editable) override {
    if (multiline_) {
      gtk_text_view_set_editable(GTK_TEXT_VIEW(text_), editable);
    } else {
      gtk_editable_set_editable(GTK_EDITABLE(entry_), editable);
    }
  }

  void SetSecure(bool secure) override {
    if (!multiline_) gtk_entry_set_visibility(GTK_ENTRY(entry_), !secure);
  }

  void SetFont(float size, std::optional<uint32_t> color) override {
    fontSize_ = size;
    color_ = color;
    ApplyCss();
  }

  void SetPadding(float left, float top, float right, float bottom) override {
    padding_ = {left, top, right, bottom};
    ApplyCss();
  }

  void Focus() override { gtk_widget_grab_focus(input_); }

  void Blur() override {
    GtkWidget* top = gtk_widget_get_toplevel(input_);
    if (GTK_IS_WINDOW(top) && gtk_window_get_focus(GTK_WINDOW(top)) == input_) {
      gtk_window_set_focus(GTK_WINDOW(top), nullptr);
    }
  }

 private:
  void ApplyCss() {
    auto px = [](float v) { return std::to_string(static_cast<int>(v + 0.5f)) + "px"; };
    std::string css = "* { background: transparent; background-color: transparent; border: none; box-shadow: none;"
                      " margin: 0; padding: " + px(padding_[1]) + " " + px(padding_[2]) + " " + px(padding_[3]) + " " +
                      px(padding_[0]) + "; min-height: 0; font-size: " + px(fontSize_) + ";";
    if (color_) css += " color: " + CssColor(*color_) + ";";
    css += " }";
    gtk_css_provider_load_from_data(css_, css.c_str(), -1, nullptr);
  }

  void UpdatePlaceholder() {
    if (multiline_) gtk_widget_queue_draw(text_);
  }

  static gboolean OnDrawPlaceholder(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkTextField*>(data);
    if (self->placeholderText_.empty() || !self->Text().empty()) return FALSE;
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, self->placeholderText_.c_str());
    GdkRectangle where{};
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)), &start);
    gtk_text_view_get_iter_location(GTK_TEXT_VIEW(widget), &start, &where);
    int x = 0, y = 0;
    gtk_text_view_buffer_to_window_coords(GTK_TEXT_VIEW(widget), GTK_TEXT_WINDOW_WIDGET, where.x, where.y, &x, &y);
    GdkRGBA colour{};
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), gtk_widget_get_state_flags(widget), &colour);
    cairo_save(cr);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, colour.alpha * 0.5);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
    return FALSE;
  }

  void Changed() {
    UpdatePlaceholder();
    if (!quiet_ && events_.changed) events_.changed(Text());
  }

  void SelectionChanged() {
    if (quiet_ || !events_.selectionChanged) return;
    int start = 0, end = 0;
    if (multiline_) {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
      GtkTextIter a, b;
      gtk_text_buffer_get_selection_bounds(buffer, &a, &b);
      if (!gtk_text_buffer_get_selection_bounds(buffer, &a, &b)) {
        gtk_text_buffer_get_iter_at_mark(buffer, &a, gtk_text_buffer_get_insert(buffer));
        b = a;
      }
      start = gtk_text_iter_get_offset(&a);
      end = gtk_text_iter_get_offset(&b);
    } else if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(entry_), &start, &end)) {
      start = end = gtk_editable_get_position(GTK_EDITABLE(entry_));
    }
    if (start == lastStart_ && end == lastEnd_) return;
    lastStart_ = start;
    lastEnd_ = end;
    events_.selectionChanged(start, end);
  }

  static void OnEntryChanged(GtkEditable*, gpointer data) { static_cast<GtkTextField*>(data)->Changed(); }
  static void OnBufferChanged(GtkTextBuffer*, gpointer data) { static_cast<GtkTextField*>(data)->Changed(); }
  static void OnSelection(GObject*, GParamSpec*, gpointer data) { static_cast<GtkTextField*>(data)->SelectionChanged(); }
  static void OnMarkSet(GtkTextBuffer*, GtkTextIter*, GtkTextMark*, gpointer data) {
    static_cast<GtkTextField*>(data)->SelectionChanged();
  }
  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkTextField*>(data);
    return self->events_.key && self->events_.key(KeyOf(event)) ? TRUE : FALSE;
  }
  static gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkTextField*>(data);
    if (self->events_.focused) self->events_.focused();
    return FALSE;
  }
  static gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkTextField*>(data);
    if (self->events_.blurred) self->events_.blurred();
    return FALSE;
  }

  bool multiline_;
  TextFieldEvents events_;
  GtkCssProvider* css_ = nullptr;
  GtkWidget* root_ = nullptr;   // what sits in the parent
  GtkWidget* input_ = nullptr;  // what takes the keys
  GtkWidget* entry_ = nullptr;
  GtkWidget* scrolled_ = nullptr;
  GtkWidget* text_ = nullptr;
  std::string placeholderText_;
  float fontSize_ = 14;
  std::array<float, 4> padding_{};  // left, top, right, bottom
  std::optional<uint32_t> color_;
  bool quiet_ = false;  // a change made by SetText / SetSelection
  int lastStart_ = -1, lastEnd_ = -1;
};

}  // namespace

std::unique_ptr<TextField> MakeGtkTextField(void* parent, bool multiline, TextFieldEvents events) {
  if (parent == nullptr) return nullptr;
  return std::make_unique<GtkTextField>(parent, multiline, std::move(events));
}

}  // namespace VirelantDesktop::platform
