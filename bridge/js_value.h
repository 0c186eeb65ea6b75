// JSON-like values exchanged with JavaScript.
//
// `JSValue` holds null, bool, 64-bit integer, unsigned integer, double,
// string, array or object. Objects are ordered by key (std::map), so their
// members reach JavaScript in sorted order.
#pragma once

#include <nlohmann/json.hpp>

namespace VirelantDesktop {

using JSValue = nlohmann::json;
using JSValueObject = JSValue::object_t;
using JSValueArray = JSValue::array_t;

}  // namespace VirelantDesktop
