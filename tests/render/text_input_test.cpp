#include "render/text_input.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::render {
namespace {

TEST(TextInputProps, FollowTheComponentAndTheResolvedSubmitBehaviour) {
  EXPECT_TRUE(IsTextInputComponent("RCTSinglelineTextInputView"));
  EXPECT_TRUE(IsTextInputComponent("RCTMultilineTextInputView"));
  EXPECT_TRUE(IsTextInputComponent("AndroidTextInput"));
  EXPECT_FALSE(IsTextInputComponent("RCTTextInput"));

  const TextInputProps single = ParseTextInputProps("RCTSinglelineTextInputView", Props::object());
  EXPECT_FALSE(single.multiline);
  EXPECT_EQ(single.submit, SubmitBehavior::BlurAndSubmit);
  const TextInputProps multi = ParseTextInputProps("RCTMultilineTextInputView", Props::object());
  EXPECT_TRUE(multi.multiline);
  EXPECT_EQ(multi.submit, SubmitBehavior::Newline);
  EXPECT_EQ(ParseTextInputProps("RCTSinglelineTextInputView", {{"submitBehavior", "newline"}}).submit,
            SubmitBehavior::BlurAndSubmit)
      << "a single line has no new line to make";
  EXPECT_TRUE(ParseTextInputProps("AndroidTextInput", {{"multiline", true}}).multiline);

  const TextInputProps p = ParseTextInputProps(
      "RCTSinglelineTextInputView",
      {{"text", "hello"}, {"defaultValue", "d"}, {"placeholder", "Message"}, {"placeholderTextColor", 0xff808080u},
       {"editable", false}, {"secureTextEntry", true}, {"autoFocus", true}, {"maxLength", 5}, {"fontSize", 16}});
  EXPECT_EQ(p.text, "hello");
  EXPECT_EQ(p.defaultText, "d");
  EXPECT_EQ(p.placeholder, "Message");
  EXPECT_EQ(p.placeholderColor, (Color{255, 128, 128, 128}));
  EXPECT_FALSE(p.editable);
  EXPECT_TRUE(p.secure);
  EXPECT_TRUE(p.autoFocus);
  EXPECT_EQ(p.maxLength, 5);
  EXPECT_EQ(p.fontSize, 16);
  EXPECT_EQ(ParseTextInputProps("RCTSinglelineTextInputView", {{"value", "v"}}).text, "v");
  EXPECT_EQ(ParseTextInputProps("RCTSinglelineTextInputView", {{"maxLength", -1}, {"fontSize", "big"}}),
            ParseTextInputProps("RCTSinglelineTextInputView", Props::object()));
}

TEST(TextInputProps, PaddingTakesTheMostSpecificSide) {
  const EdgeInsets p = TextInputPadding({{"padding", 4}, {"paddingHorizontal", 6}, {"paddingTop", 1}, {"paddingEnd", 9}});
  EXPECT_EQ(p, (EdgeInsets{6, 1, 9, 4}));
  EXPECT_EQ(TextInputPadding({{"padding", "10%"}}), EdgeInsets{}) << "percentages are left to the layout";
}

TEST(TextInputEnter, SendsOnASingleLineAndKeepsShiftEnterForANewLine) {
  TextInputProps single;
  EXPECT_EQ(ActionForEnter(single, false), EnterAction::SubmitAndBlur);
  single.submit = SubmitBehavior::Submit;
  EXPECT_EQ(ActionForEnter(single, true), EnterAction::Submit);
  TextInputProps composer;
  composer.multiline = true;
  composer.submit = SubmitBehavior::Submit;
  EXPECT_EQ(ActionForEnter(composer, false), EnterAction::Submit) << "Enter sends";
  EXPECT_EQ(ActionForEnter(composer, true), EnterAction::Newline) << "Shift+Enter breaks the line";
  composer.submit = SubmitBehavior::Newline;
  EXPECT_EQ(ActionForEnter(composer, false), EnterAction::Newline);
}

TEST(TextInputKeys, NamedKeysOrTheTextTheyType) {
  EXPECT_EQ(KeyPressName(NamedKey::Enter, "\n"), "Enter");
  EXPECT_EQ(KeyPressName(NamedKey::Backspace, ""), "Backspace");
  EXPECT_EQ(KeyPressName(NamedKey::None, "\xed\x95\x9c"), "\xed\x95\x9c");
  EXPECT_EQ(KeyPressName(NamedKey::None, " "), " ");
}

TEST(TextInputText, LengthIsCountedInWholeCharacters) {
  EXPECT_EQ(LimitTextLength("abcdef", 3), "abc");
  EXPECT_EQ(LimitTextLength("\xed\x95\x9c\xea\xb8\x80!", 2), "\xed\x95\x9c\xea\xb8\x80") << "Hangul stays whole";
  EXPECT_EQ(LimitTextLength("e\xcc\x81x", 1), "e") << "a combining mark counts as its own code point";
  EXPECT_EQ(LimitTextLength("abc", std::nullopt), "abc");
  EXPECT_EQ(LimitTextLength("abc", 0), "");
}

TEST(TextInputChanges, CountsChangesAndDropsCommandsThatAnswerAnOlderOne) {
  TextInputChanges changes;
  const Props first = changes.UserChanged(7, "h");
  EXPECT_EQ(first["text"], "h");
  EXPECT_EQ(first["eventCount"], 1);
  EXPECT_EQ(first["target"], 7);
  changes.UserChanged(7, "hi");
  EXPECT_EQ(changes.EventCount(), 2);

  EXPECT_FALSE(changes.SetTextAndSelection(Props::array({1, "h", -1, -1}))) << "the user typed on since";
  const auto update = changes.SetTextAndSelection(Props::array({2, "", 5, 3}));
  ASSERT_TRUE(update);
  EXPECT_EQ(update->text, "") << "the bundle cleared it after sending";
  EXPECT_EQ(update->start, 3);
  EXPECT_EQ(update->end, 5);
  const auto keep = changes.SetTextAndSelection(Props::array({2, nullptr, -1, -1}));
  ASSERT_TRUE(keep);
  EXPECT_FALSE(keep->text);
  EXPECT_FALSE(keep->start) << "-1: no selection given";
  EXPECT_FALSE(changes.SetTextAndSelection(Props::array({"x"})));
  EXPECT_FALSE(changes.SetTextAndSelection(Props::object()));
}

TEST(TextInputPayloads, CarryWhatTheBundleReads) {
  EXPECT_EQ(SelectionPayload(3, 1, 2)["selection"]["end"], 2);
  EXPECT_EQ(TextPayload(3, "sent")["text"], "sent");
  EXPECT_EQ(KeyPressPayload(3, "Enter")["key"], "Enter");
  EXPECT_EQ(FocusPayload(3)["target"], 3);
}

}  // namespace
}  // namespace VirelantDesktop::render
