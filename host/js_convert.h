// Conversion between engine values and JSValue. JS thread only.
//
// Engine -> JSValue follows the value reader's rule (bridge/
// arg_conversion.h), JSON-like for the "any" type: undefined, functions,
// symbols and big integers become null as values and are left out as object
// members; a cyclic reference becomes null; nesting deeper than
// kMaxConvertDepth and anything past kMaxConvertNodes values in one argument
// become null. A getter that throws leaves its member out; an object whose
// members cannot be listed (a revoked Proxy, a Proxy trap that throws while
// they are listed) has none. Nothing here throws into the engine or rejects:
// the bridge converts, modules validate.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <cstddef>

#include "bridge/arg_conversion.h"
#include "bridge/js_value.h"

namespace VirelantDesktop::host {

inline constexpr int kMaxConvertDepth = 128;
inline constexpr size_t kMaxConvertNodes = size_t{1} << 20;

// `value` == nullptr stands for a missing argument (undefined).
JSValue ReadArg(JSContextRef ctx, JSValueRef value, ArgType type);

// The "any" rule.
JSValue FromJs(JSContextRef ctx, JSValueRef value);

// Clears an exception left pending on the context; true when there was one.
// Some calls of the engine's C API have no exception slot
// (JSObjectCopyPropertyNames): what JavaScript run inside them throws stays
// pending, and the next call with a slot would report it as its own (making
// a promise, for one, then fails).
bool TakePendingException(JSContextRef ctx);

// Builds the engine value; objects keep their key order.
JSValueRef ToJs(JSContextRef ctx, const JSValue& value);

}  // namespace VirelantDesktop::host
