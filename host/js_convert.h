// Conversion between engine values and JSValue. JS thread only.
//
// Engine -> JSValue follows the value reader's rule (app/bridge/
// arg_conversion.h), JSON-like for the "any" type: undefined, functions,
// symbols and big integers become null as values and are left out as object
// members; a cyclic reference becomes null; nesting deeper than
// kMaxConvertDepth and anything past kMaxConvertNodes values in one argument
// become null. A getter that throws leaves its member out. Nothing here
// throws into the engine or rejects: the bridge converts, modules validate.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <cstddef>

#include "app/bridge/arg_conversion.h"
#include "app/bridge/js_value.h"

namespace VirelantDesktop::host {

inline constexpr int kMaxConvertDepth = 128;
inline constexpr size_t kMaxConvertNodes = size_t{1} << 20;

// `value` == nullptr stands for a missing argument (undefined).
JSValue ReadArg(JSContextRef ctx, JSValueRef value, ArgType type);

// The "any" rule.
JSValue FromJs(JSContextRef ctx, JSValueRef value);

// Builds the engine value; objects keep their key order.
JSValueRef ToJs(JSContextRef ctx, const JSValue& value);

}  // namespace VirelantDesktop::host
