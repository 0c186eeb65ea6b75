// The text input component's side of the conversation, on a recording field.
#include "textinput/text_input_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace VirelantDesktop::TextInput {
namespace {

struct FieldLog {
  std::string text;
  std::vector<std::string> calls;
};

class RecordingField final : public platform::TextField {
 public:
  explicit RecordingField(FieldLog& log) : log_(log) {}
  void SetText(const std::string& text) override {
    log_.text = text;
    log_.calls.push_back("text " + text);
  }
  std::string Text() const override { return log_.text; }
  void SetSelection(int start, int end) override {
    log_.calls.push_back("select " + std::to_string(start) + "-" + std::to_string(end));
  }
  void SetPlaceholder(const std::string& text) override { log_.calls.push_back("placeholder " + text); }
  void SetEditable(bool editable) override { log_.calls.push_back(editable ? "editable" : "read-only"); }
  void SetSecure(bool secure) override {
    if (secure) log_.calls.push_back("secure");
  }
  void SetFont(float size, std::optional<uint32_t>) override { log_.calls.push_back("font " + std::to_string(int(size))); }
  void SetPadding(float left, float top, float, float) override {
    log_.calls.push_back("padding " + std::to_string(int(left)) + " " + std::to_string(int(top)));
  }
  void Focus() override { log_.calls.push_back("focus"); }
  void Blur() override { log_.calls.push_back("blur"); }

 private:
  FieldLog& log_;
};

class TextInputViewTest : public ::testing::Test {
 protected:
  TextInputView& Make(const std::string& component) {
    view_ = std::make_unique<TextInputView>(7, component);
    view_->SetField(std::make_unique<RecordingField>(field_));
    view_->SetEmitter([this](const std::string& name, JSValue payload) { events_.push_back({name, std::move(payload)}); });
    return *view_;
  }
  bool Called(const std::string& call) const {
    return std::find(field_.calls.begin(), field_.calls.end(), call) != field_.calls.end();
  }
  void Type(const std::string& text) {
    field_.text = text;
    view_->OnChanged(text);
  }

  FieldLog field_;
  std::unique_ptr<TextInputView> view_;
  std::vector<std::pair<std::string, JSValue>> events_;
};

TEST_F(TextInputViewTest, TheFieldFollowsThePropsAndTakesTheDefaultOnlyFirst) {
  auto& input = Make("RCTSinglelineTextInputView");
  input.UpdateProps({{"defaultValue", "draft"}, {"placeholder", "Message"}, {"autoFocus", true}, {"fontSize", 16},
                     {"editable", false}, {"secureTextEntry", true}, {"padding", 8}, {"paddingLeft", 12}});
  EXPECT_EQ(field_.text, "draft");
  EXPECT_TRUE(Called("placeholder Message"));
  EXPECT_TRUE(Called("focus"));
  EXPECT_TRUE(Called("read-only"));
  EXPECT_TRUE(Called("secure"));
  EXPECT_TRUE(Called("font 16"));
  EXPECT_TRUE(Called("padding 12 8")) << "the text sits inside the view's padding";
  Type("draft edited");
  field_.calls.clear();
  input.UpdateProps({{"placeholder", "Other"}});
  EXPECT_EQ(field_.text, "draft edited") << "the default is not put back";
  EXPECT_TRUE(Called("placeholder Other"));
  EXPECT_TRUE(Called("read-only")) << "earlier props are kept";
  EXPECT_FALSE(Called("focus")) << "autoFocus acts once";
}

TEST_F(TextInputViewTest, ChangesAreCountedAndAStaleControlledValueIsNotPutBack) {
  auto& input = Make("RCTSinglelineTextInputView");
  input.UpdateProps({{"text", ""}, {"mostRecentEventCount", 0}});
  Type("h");
  Type("he");
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].first, "change");
  EXPECT_EQ(events_[1].second["text"], "he");
  EXPECT_EQ(events_[1].second["eventCount"], 2);
  // The bundle answers the first change while the second is on its way.
  input.UpdateProps({{"text", "h"}, {"mostRecentEventCount", 1}});
  EXPECT_EQ(field_.text, "he") << "stale: the user's latest text stays";
  input.UpdateProps({{"text", "he"}, {"mostRecentEventCount", 2}});
  input.UpdateProps({{"text", ""}, {"mostRecentEventCount", 2}});
  EXPECT_EQ(field_.text, "") << "the bundle cleared it after seeing every change";

  input.Command("setTextAndSelection", JSValue::array({1, "old", -1, -1}));
  EXPECT_EQ(field_.text, "") << "a command answering an older change is dropped";
  input.Command("setTextAndSelection", JSValue::array({2, "new", 1, 3}));
  EXPECT_EQ(field_.text, "new");
  EXPECT_TRUE(Called("select 1-3"));
  input.Command("focus", JSValue::array());
  input.Command("blur", JSValue::array());
  EXPECT_TRUE(Called("blur"));
}

TEST_F(TextInputViewTest, MaxLengthCutsWhatIsTypedInWholeCharacters) {
  auto& input = Make("RCTSinglelineTextInputView");
  input.UpdateProps({{"maxLength", 2}});
  Type("\xed\x95\x9c\xea\xb8\x80\xeb\xa1\x9c");
  EXPECT_EQ(field_.text, "\xed\x95\x9c\xea\xb8\x80");
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].second["text"], "\xed\x95\x9c\xea\xb8\x80");
}

TEST_F(TextInputViewTest, EnterSendsAndShiftEnterBreaksTheLineInAComposer) {
  auto& input = Make("RCTMultilineTextInputView");
  input.UpdateProps({{"submitBehavior", "submit"}});
  field_.text = "hello";
  platform::TextFieldKey enter;
  enter.name = platform::TextFieldKey::Name::Enter;
  EXPECT_TRUE(input.OnKey(enter)) << "taken: the field gets no line break";
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].first, "keyPress");
  EXPECT_EQ(events_[0].second["key"], "Enter");
  EXPECT_EQ(events_[1].first, "submitEditing");
  EXPECT_EQ(events_[1].second["text"], "hello");
  EXPECT_FALSE(Called("blur"));

  enter.shift = true;
  events_.clear();
  EXPECT_FALSE(input.OnKey(enter)) << "left to the field: a new line";
  ASSERT_EQ(events_.size(), 1u);

  platform::TextFieldKey letter;
  letter.typed = "a";
  EXPECT_FALSE(input.OnKey(letter));
  EXPECT_EQ(events_.back().second["key"], "a");
}

TEST_F(TextInputViewTest, ASingleLineSubmitsAndBlursAndFocusIsReported) {
  auto& input = Make("RCTSinglelineTextInputView");
  input.UpdateProps(JSValue::object());
  platform::TextFieldKey enter;
  enter.name = platform::TextFieldKey::Name::Enter;
  EXPECT_TRUE(input.OnKey(enter));
  EXPECT_TRUE(Called("blur"));
  input.OnFocus();
  field_.text = "left";
  input.OnBlur();
  ASSERT_GE(events_.size(), 3u);
  EXPECT_EQ(events_[events_.size() - 3].first, "focus");
  EXPECT_EQ(events_[events_.size() - 2].first, "blur");
  EXPECT_EQ(events_.back().first, "endEditing");
  EXPECT_EQ(events_.back().second["text"], "left");
}

}  // namespace
}  // namespace VirelantDesktop::TextInput
