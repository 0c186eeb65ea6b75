#include "host/jsc_string.h"

#include "host/utf.h"

namespace VirelantDesktop::host {

JsString::JsString(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    // JSChar is UTF-16; widen byte by byte.
    std::u16string wide(utf8.begin(), utf8.end());
    ref_ = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(wide.data()), wide.size());
  } else {
    std::u16string wide = Utf8ToUtf16(utf8);
    ref_ = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(wide.data()), wide.size());
  }
}

std::string JsString::ToUtf8() const { return JsStringToUtf8(ref_); }

std::string JsStringToUtf8(JSStringRef string) {
  if (string == nullptr) return {};
  const JSChar* chars = JSStringGetCharactersPtr(string);
  const size_t length = JSStringGetLength(string);
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(chars), length));
}

std::string JsValueToUtf8(JSContextRef ctx, JSValueRef value) {
  JSValueRef exception = nullptr;
  JSStringRef string = JSValueToStringCopy(ctx, value, &exception);
  if (string == nullptr) return {};
  JsString owned(string);
  return owned.ToUtf8();
}

JSValueRef MakeJsString(JSContextRef ctx, std::string_view utf8) {
  JsString string(utf8);
  return JSValueMakeString(ctx, string.get());
}

JSValueRef GetProperty(JSContextRef ctx, JSObjectRef object, const char* name) {
  JsString key(name);
  JSValueRef exception = nullptr;
  JSValueRef value = JSObjectGetProperty(ctx, object, key.get(), &exception);
  if (exception != nullptr || value == nullptr || JSValueIsUndefined(ctx, value)) return nullptr;
  return value;
}

void SetProperty(JSContextRef ctx, JSObjectRef object, const char* name, JSValueRef value,
                 JSPropertyAttributes attributes) {
  JsString key(name);
  JSObjectSetProperty(ctx, object, key.get(), value, attributes, nullptr);
}

}  // namespace VirelantDesktop::host
