#include "bridge/promise_error.h"

namespace VirelantDesktop {

PromiseError NormalizeRejection(PromiseError error) {
  if (error.code.empty()) error.code = kUnspecifiedCode;
  if (error.message.empty()) error.message = kUnspecifiedMessage;
  return error;
}

JSValue MakeRejectionObject(const PromiseError& error) {
  PromiseError normal = NormalizeRejection(error);
  // The object is key-ordered; "code" < "message" < "userInfo" keeps the
  // required order.
  JSValue object = JSValueObject{};
  object["code"] = std::move(normal.code);
  object["message"] = std::move(normal.message);
  object["userInfo"] = std::move(normal.userInfo);
  return object;
}

}  // namespace VirelantDesktop
