#include "host/js_convert.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "host/jsc_string.h"

namespace VirelantDesktop::host {
namespace {

// JSType gained kJSTypeBigInt (7) in newer engines; anything beyond Object
// and Symbol is treated as "not JSON".
bool IsJsonable(JSContextRef ctx, JSValueRef value) {
  switch (JSValueGetType(ctx, value)) {
    case kJSTypeNull:
    case kJSTypeBoolean:
    case kJSTypeNumber:
    case kJSTypeString:
      return true;
    case kJSTypeObject:
      return !JSObjectIsFunction(ctx, JSValueToObject(ctx, value, nullptr));
    default:
      return false;
  }
}

size_t ArrayLength(JSContextRef ctx, JSObjectRef array) {
  JSValueRef length = GetProperty(ctx, array, "length");
  if (length == nullptr || !JSValueIsNumber(ctx, length)) return 0;
  double n = JSValueToNumber(ctx, length, nullptr);
  if (!(n > 0)) return 0;
  return n >= static_cast<double>(std::numeric_limits<size_t>::max()) ? std::numeric_limits<size_t>::max()
                                                                         : static_cast<size_t>(n);
}

class Converter {
 public:
  explicit Converter(JSContextRef ctx) : ctx_(ctx) {}

  JSValue Convert(JSValueRef value, int depth) {
    if (nodes_ >= kMaxConvertNodes) return nullptr;
    ++nodes_;
    switch (JSValueGetType(ctx_, value)) {
      case kJSTypeBoolean:
        return JSValueToBoolean(ctx_, value);
      case kJSTypeNumber:
        return JsonFromNumber(JSValueToNumber(ctx_, value, nullptr));
      case kJSTypeString: {
        JSStringRef string = JSValueToStringCopy(ctx_, value, nullptr);
        JsString owned(string);
        return owned.ToUtf8();
      }
      case kJSTypeObject:
        return ConvertObject(JSValueToObject(ctx_, value, nullptr), depth);
      default:  // undefined, null, symbol, big integer
        return nullptr;
    }
  }

 private:
  JSValue ConvertObject(JSObjectRef object, int depth) {
    if (object == nullptr || JSObjectIsFunction(ctx_, object)) return nullptr;
    if (depth >= kMaxConvertDepth) return nullptr;
    if (std::find(path_.begin(), path_.end(), object) != path_.end()) return nullptr;
    path_.push_back(object);
    JSValue result = JSValueIsArray(ctx_, object) ? ConvertArray(object, depth) : ConvertMembers(object, depth);
    path_.pop_back();
    return result;
  }

  JSValue ConvertArray(JSObjectRef array, int depth) {
    const size_t length = ArrayLength(ctx_, array);
    if (length > kMaxConvertNodes - nodes_) {
      nodes_ = kMaxConvertNodes;
      return nullptr;
    }
    JSValue out = JSValueArray{};
    out.get_ref<JSValueArray&>().reserve(length);
    for (size_t i = 0; i < length; ++i) {
      JSValueRef exception = nullptr;
      JSValueRef element = JSObjectGetPropertyAtIndex(ctx_, array, static_cast<unsigned>(i), &exception);
      if (exception != nullptr || element == nullptr) {
        out.push_back(nullptr);
      } else {
        out.push_back(Convert(element, depth + 1));
      }
    }
    return out;
  }

  JSValue ConvertMembers(JSObjectRef object, int depth) {
    JSValue out = JSValueObject{};
    JSPropertyNameArrayRef names = JSObjectCopyPropertyNames(ctx_, object);
    // Listing runs JavaScript for a Proxy (ownKeys, getOwnPropertyDescriptor,
    // getPrototypeOf) and throws for a revoked one: then no member can be
    // read, and the object converts as one without members.
    if (TakePendingException(ctx_) || names == nullptr) {
      if (names != nullptr) JSPropertyNameArrayRelease(names);
      return out;
    }
    const size_t count = JSPropertyNameArrayGetCount(names);
    for (size_t i = 0; i < count && nodes_ < kMaxConvertNodes; ++i) {
      JSStringRef name = JSPropertyNameArrayGetNameAtIndex(names, i);
      JSValueRef exception = nullptr;
      JSValueRef member = JSObjectGetProperty(ctx_, object, name, &exception);
      if (exception != nullptr || member == nullptr || !IsJsonable(ctx_, member)) continue;
      out[JsStringToUtf8(name)] = Convert(member, depth + 1);
    }
    JSPropertyNameArrayRelease(names);
    return out;
  }

  JSContextRef ctx_;
  size_t nodes_ = 0;
  std::vector<JSObjectRef> path_;  // objects being converted, for cycles
};

}  // namespace

bool TakePendingException(JSContextRef ctx) {
  // Every call with an exception slot reports and clears what is pending,
  // and converting a number runs no JavaScript of its own.
  JSValueRef exception = nullptr;
  JSValueToNumber(ctx, JSValueMakeNumber(ctx, 0), &exception);
  return exception != nullptr;
}

JSValue FromJs(JSContextRef ctx, JSValueRef value) {
  if (value == nullptr) return nullptr;
  return Converter(ctx).Convert(value, 0);
}

JSValue ReadArg(JSContextRef ctx, JSValueRef value, ArgType type) {
  switch (type) {
    case ArgType::String:
      return value != nullptr && JSValueIsString(ctx, value) ? JSValue(JsValueToUtf8(ctx, value)) : JSValue("");
    case ArgType::Number:
      return value != nullptr && JSValueIsNumber(ctx, value) ? JSValue(JSValueToNumber(ctx, value, nullptr))
                                                             : JSValue(std::numeric_limits<double>::quiet_NaN());
    case ArgType::Int64:
      return value != nullptr && JSValueIsNumber(ctx, value)
                 ? JSValue(Int64FromNumber(JSValueToNumber(ctx, value, nullptr)))
                 : JSValue(int64_t{0});
    case ArgType::Boolean:
      return value != nullptr && JSValueIsBoolean(ctx, value) && JSValueToBoolean(ctx, value);
    case ArgType::StringArray: {
      JSValue out = JSValueArray{};
      if (value == nullptr || !JSValueIsArray(ctx, value)) return out;
      JSObjectRef array = JSValueToObject(ctx, value, nullptr);
      const size_t length = std::min(ArrayLength(ctx, array), kMaxConvertNodes);
      for (size_t i = 0; i < length; ++i) {
        JSValueRef exception = nullptr;
        JSValueRef element = JSObjectGetPropertyAtIndex(ctx, array, static_cast<unsigned>(i), &exception);
        bool isString = exception == nullptr && element != nullptr && JSValueIsString(ctx, element);
        out.push_back(isString ? JsValueToUtf8(ctx, element) : std::string());
      }
      return out;
    }
    case ArgType::Any:
      return FromJs(ctx, value);
  }
  return nullptr;
}

JSValueRef ToJs(JSContextRef ctx, const JSValue& value) {
  switch (value.type()) {
    case JSValue::value_t::null:
    case JSValue::value_t::discarded:
      return JSValueMakeNull(ctx);
    case JSValue::value_t::boolean:
      return JSValueMakeBoolean(ctx, value.get<bool>());
    case JSValue::value_t::number_integer:
      return JSValueMakeNumber(ctx, static_cast<double>(value.get<int64_t>()));
    case JSValue::value_t::number_unsigned:
      return JSValueMakeNumber(ctx, static_cast<double>(value.get<uint64_t>()));
    case JSValue::value_t::number_float:
      return JSValueMakeNumber(ctx, value.get<double>());
    case JSValue::value_t::string:
      return MakeJsString(ctx, value.get_ref<const std::string&>());
    case JSValue::value_t::array: {
      // Elements go straight into the array: a JSValueRef kept in heap
      // memory is invisible to the collector's conservative stack scan.
      JSObjectRef array = JSObjectMakeArray(ctx, 0, nullptr, nullptr);
      unsigned index = 0;
      for (const auto& element : value) JSObjectSetPropertyAtIndex(ctx, array, index++, ToJs(ctx, element), nullptr);
      return array;
    }
    case JSValue::value_t::object: {
      JSObjectRef object = JSObjectMake(ctx, nullptr, nullptr);
      for (const auto& [key, member] : value.get_ref<const JSValueObject&>()) {
        JsString name(key);
        JSObjectSetProperty(ctx, object, name.get(), ToJs(ctx, member), kJSPropertyAttributeNone, nullptr);
      }
      return object;
    }
    case JSValue::value_t::binary:
      return JSValueMakeNull(ctx);
  }
  return JSValueMakeNull(ctx);
}

}  // namespace VirelantDesktop::host
