// The value reader's rule: how JavaScript arguments become a method's
// declared parameter types. The bridge never rejects a call: a value of the
// wrong type becomes the type's neutral value and the module validates it
// with its own codes.
//
//   string         the JavaScript string, else ""
//   number         the JavaScript number, else NaN
//   64-bit integer the number truncated toward zero when finite and in
//                  range, else 0
//   boolean        the JavaScript boolean, else false
//   string array   the array, non-string elements as "", else []
//   any JSON value the value converted: undefined -> null, integral numbers
//                  in the safe range -> integer, other numbers -> double
// Missing arguments are undefined; extra arguments are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/js_value.h"

namespace VirelantDesktop {

enum class ArgType { String, Number, Int64, Boolean, StringArray, Any };

// Largest integer a JavaScript number holds exactly: 2^53 - 1.
inline constexpr double kMaxSafeInteger = 9007199254740991.0;

// Truncation toward zero; 0 for NaN, infinities and values outside int64.
int64_t Int64FromNumber(double number) noexcept;

// An integer for integral numbers within +/-(2^53 - 1) (-0 included), else
// the double itself (fractions, NaN, infinities, large magnitudes).
JSValue JsonFromNumber(double number);

// Applies the rule to a value already in JSON form; `raw` == nullptr stands
// for undefined. Used by test invokers that have no JavaScript engine; the
// host applies the same rule to engine values directly.
JSValue ConvertArg(const JSValue* raw, ArgType type);

// The arguments of one call, converted in order to the declared types.
using MethodArgs = std::vector<JSValue>;

MethodArgs ConvertArgs(const std::vector<JSValue>& raw, const std::vector<ArgType>& types);

}  // namespace VirelantDesktop
