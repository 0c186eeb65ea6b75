#include "bridge/module_table.h"

#include <gtest/gtest.h>

#include "tests/support/fake_react_context.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using testing::FakeReactContext;
using testing::ModuleUnderTest;

// A module with one method of every shape the table helper supports.
class Sample {
 public:
  static void Describe(ModuleTable<Sample>& table) {
    table.Initializer(&Sample::Initialize);
    table.Constants(&Sample::GetConstants);
    table.Method("all", &Sample::all);
    table.Method("none", &Sample::none);
    table.Method("setFlag", &Sample::setFlag);
  }
  void Initialize(const ReactContext& context) noexcept {
    ++initialized;
    context_ = context;
  }
  void GetConstants(JSValueObject& constants) noexcept { constants["k"] = "v"; }
  void all(std::string s, double d, int64_t i, bool b, std::vector<std::string> list, JSValue any,
           ReactPromise<JSValue> promise) noexcept {
    promise.Resolve(JSValue::array({s, d, i, b, list, any}));
  }
  void none(ReactPromise<bool> promise) noexcept { promise.Resolve(true); }
  void setFlag(bool value) noexcept { flag = value; }

  int initialized = 0;
  bool flag = false;
  ReactContext context_;
};

TEST(ModuleTable, DeducesArgumentTypesAndReturnKinds) {
  ModuleUnderTest module(MakeModuleProvider<Sample>("Sample"));
  const ModuleBuilder& builder = module.Builder();
  EXPECT_EQ(builder.Name(), "Sample");
  EXPECT_EQ(builder.EventEmitterName(), "RCTDeviceEventEmitter");

  const MethodInfo* all = builder.FindMethod("all");
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->returnType, MethodReturnType::Promise);
  EXPECT_EQ(static_cast<int>(all->returnType), 3);
  EXPECT_EQ(all->argTypes, (std::vector<ArgType>{ArgType::String, ArgType::Number, ArgType::Int64, ArgType::Boolean,
                                                 ArgType::StringArray, ArgType::Any}));
  const MethodInfo* none = builder.FindMethod("none");
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->argTypes.empty());
  const MethodInfo* setFlag = builder.FindMethod("setFlag");
  ASSERT_NE(setFlag, nullptr);
  EXPECT_EQ(setFlag->returnType, MethodReturnType::Void);
  EXPECT_EQ(static_cast<int>(setFlag->returnType), 0);
  EXPECT_EQ(builder.FindMethod("missing"), nullptr);
}

TEST(ModuleTable, PromiseMethod_ReceivesConvertedArguments) {
  ModuleUnderTest module(MakeModuleProvider<Sample>("Sample"));
  auto probe = module.Call("all", {"s", 2.5, 9.9, true, JSValue::array({"a", 3}), JSValue{{"k", 1}}});
  ASSERT_TRUE(probe->IsResolved());
  EXPECT_EQ(probe->Value(), JSValue::array({"s", 2.5, 9, true, JSValue::array({"a", ""}), JSValue{{"k", 1}}}));

  auto wrong = module.Call("all", {1, "x"});
  ASSERT_TRUE(wrong->IsResolved());
  JSValue value = wrong->Value();
  EXPECT_EQ(value[0], "");
  EXPECT_TRUE(std::isnan(value[1].get<double>()));
  EXPECT_EQ(value[2], 0);
  EXPECT_EQ(value[3], false);
  EXPECT_EQ(value[4], JSValue::array());
  EXPECT_TRUE(value[5].is_null());
}

TEST(ModuleTable, VoidMethod_RunsWithoutAPromise) {
  auto provider = MakeModuleProvider<Sample>("Sample");
  ModuleBuilder builder;
  auto object = std::static_pointer_cast<Sample>(provider(builder));
  MethodArgs args{true};
  builder.FindMethod("setFlag")->delegate(args, nullptr);
  EXPECT_TRUE(object->flag);
}

TEST(ModuleTable, InitializerAndConstants) {
  auto provider = MakeModuleProvider<Sample>("Sample");
  ModuleBuilder builder;
  auto object = std::static_pointer_cast<Sample>(provider(builder));
  EXPECT_EQ(builder.CollectConstants(), (JSValueObject{{"k", "v"}}));
  FakeReactContext fake;
  for (const auto& initializer : builder.Initializers()) initializer(fake.Context());
  EXPECT_EQ(object->initialized, 1);
  EXPECT_TRUE(static_cast<bool>(object->context_));
}

}  // namespace
}  // namespace VirelantDesktop
