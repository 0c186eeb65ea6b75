// Small helpers over JavaScriptCore's C API strings. JS thread only.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <string>
#include <string_view>
#include <utility>

namespace VirelantDesktop::host {

// An owned JSStringRef.
class JsString {
 public:
  JsString() = default;
  explicit JsString(std::string_view utf8);
  explicit JsString(JSStringRef adopted) noexcept : ref_(adopted) {}
  ~JsString() {
    if (ref_ != nullptr) JSStringRelease(ref_);
  }
  JsString(JsString&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  JsString& operator=(JsString&& other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  JsString(const JsString&) = delete;
  JsString& operator=(const JsString&) = delete;

  JSStringRef get() const noexcept { return ref_; }
  std::string ToUtf8() const;

 private:
  JSStringRef ref_ = nullptr;
};

std::string JsStringToUtf8(JSStringRef string);

// The string value of `value` (as String(value) would give, "" if that throws).
std::string JsValueToUtf8(JSContextRef ctx, JSValueRef value);

JSValueRef MakeJsString(JSContextRef ctx, std::string_view utf8);

// Property access by UTF-8 name; undefined/null results and exceptions both
// come back as nullptr from GetProperty.
JSValueRef GetProperty(JSContextRef ctx, JSObjectRef object, const char* name);
void SetProperty(JSContextRef ctx, JSObjectRef object, const char* name, JSValueRef value,
                 JSPropertyAttributes attributes = kJSPropertyAttributeNone);

}  // namespace VirelantDesktop::host
