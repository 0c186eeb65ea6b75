#include "bridge/arg_conversion.h"

#include <cmath>
#include <limits>

namespace VirelantDesktop {

int64_t Int64FromNumber(double number) noexcept {
  if (!std::isfinite(number)) return 0;
  const double truncated = std::trunc(number);
  // 2^63 is exactly representable; anything at or above it is out of range.
  constexpr double kTwo63 = 9223372036854775808.0;
  if (truncated >= kTwo63 || truncated < -kTwo63) return 0;
  return static_cast<int64_t>(truncated);
}

JSValue JsonFromNumber(double number) {
  if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= kMaxSafeInteger) {
    return JSValue(static_cast<int64_t>(number));
  }
  return JSValue(number);
}

namespace {

double NumberOf(const JSValue& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return static_cast<double>(value.get<int64_t>());
  if (value.is_number_unsigned()) return static_cast<double>(value.get<uint64_t>());
  return value.get<double>();
}

// JSON numbers as a JavaScript engine would hand them over: every number is a
// double first, so large integers lose their integer form.
JSValue NormalizeAny(const JSValue& value) {
  switch (value.type()) {
    case JSValue::value_t::number_integer:
    case JSValue::value_t::number_unsigned:
    case JSValue::value_t::number_float:
      return JsonFromNumber(NumberOf(value));
    case JSValue::value_t::array: {
      JSValue out = JSValueArray{};
      for (const auto& element : value) out.push_back(NormalizeAny(element));
      return out;
    }
    case JSValue::value_t::object: {
      JSValue out = JSValueObject{};
      for (const auto& [key, member] : value.items()) out[key] = NormalizeAny(member);
      return out;
    }
    case JSValue::value_t::discarded:
      return nullptr;
    default:
      return value;
  }
}

}  // namespace

JSValue ConvertArg(const JSValue* raw, ArgType type) {
  switch (type) {
    case ArgType::String:
      return raw && raw->is_string() ? *raw : JSValue("");
    case ArgType::Number:
      return raw && raw->is_number() ? JSValue(NumberOf(*raw)) : JSValue(std::numeric_limits<double>::quiet_NaN());
    case ArgType::Int64:
      if (raw && raw->is_number_integer() && !raw->is_number_unsigned()) return *raw;
      return JSValue(raw && raw->is_number() ? Int64FromNumber(NumberOf(*raw)) : int64_t{0});
    case ArgType::Boolean:
      return JSValue(raw && raw->is_boolean() && raw->get<bool>());
    case ArgType::StringArray: {
      JSValue out = JSValueArray{};
      if (raw && raw->is_array()) {
        for (const auto& element : *raw) out.push_back(element.is_string() ? element : JSValue(""));
      }
      return out;
    }
    case ArgType::Any:
      return raw ? NormalizeAny(*raw) : JSValue(nullptr);
  }
  return nullptr;
}

MethodArgs ConvertArgs(const std::vector<JSValue>& raw, const std::vector<ArgType>& types) {
  MethodArgs args;
  args.reserve(types.size());
  for (size_t i = 0; i < types.size(); ++i) args.push_back(ConvertArg(i < raw.size() ? &raw[i] : nullptr, types[i]));
  return args;
}

}  // namespace VirelantDesktop
