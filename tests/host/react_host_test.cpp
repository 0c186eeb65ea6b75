#include "host/react_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/package_provider.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::host {
namespace {

using ::testing::HasSubstr;

struct RunResult {
  int code = -1;
  std::string out;  // lines joined with "\n"
  std::string err;
};

class ReactHostTest : public ::testing::Test {
 protected:
  // Runs `source` as the bundle on a dev-runner style host.
  RunResult Run(const std::string& source, HostOptions options = RunnerOptions()) {
    testing::WriteTextFile(dir_.Join("index.windows"), source);
    RunResult result;
    std::mutex mutex;  // guards result.out and result.err
    options.output = [&](ConsoleStream stream, std::string_view line) {
      std::lock_guard lock(mutex);
      (stream == ConsoleStream::Out ? result.out : result.err).append(line).append("\n");
      ++linesSeen_;
    };
    ReactHost host(options);
    host.InstanceSettings().BundleRootPath = "file://" + dir_.path() + "/";
    host.InstanceSettings().JavaScriptBundleFile = "index.windows";
    host.InstanceSettings().PackageProviders.push_back(std::make_shared<CompReactPackageProvider>());
    host.ViewOptions().ComponentName = "VirelantDesktop";
    if (beforeStart_) beforeStart_(host);
    result.code = host.Start();
    if (helper_.joinable()) helper_.join();
    return result;
  }

  static HostOptions RunnerOptions() {
    HostOptions options;
    options.exitWhenIdle = true;
    options.runnerApi = true;
    options.componentRequired = false;
    options.timeoutMs = 20000;
    return options;
  }

  std::string BundlePath() const { return dir_.Join("index.windows"); }

  testing::TempDir dir_;
  std::function<void(ReactHost&)> beforeStart_;
  std::thread helper_;  // a thread beforeStart_ may start; joined after Start()
  std::atomic<int> linesSeen_{0};  // console lines of the running bundle
};

TEST_F(ReactHostTest, Idle_ExitsZeroAfterTheLastTimerAndPromise) {
  auto r = Run(R"(
    const probe = __turboModuleProxy('TalvekProbe');
    setTimeout(() => console.log('timer'), 30);
    probe.resolveOnWorker('late', 80).then((v) => console.log('worker', v));
    new Promise(() => {});  // a script-only promise keeps nothing alive
  )");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "timer\nworker late\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ReactHostTest, ConsoleStreams) {
  auto r = Run("console.log('a'); console.info('b'); console.debug('c'); console.warn('d'); console.error('e', 1);");
  EXPECT_EQ(r.out, "a\nb\nc\n");
  EXPECT_EQ(r.err, "d\ne 1\n");
  EXPECT_EQ(r.code, 0);
}

TEST_F(ReactHostTest, UncaughtError_IsReportedWithItsStackAndExitsOne) {
  auto r = Run("function boom() { throw new Error('boom'); }\nsetTimeout(boom, 1);\nsetTimeout(() => console.log('still running'), 20);");
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("Uncaught Error: boom\n    at boom (" + BundlePath() + ":1:"));
  EXPECT_EQ(r.out, "still running\n");
}

TEST_F(ReactHostTest, UnhandledRejection_IsReportedAndExitsOne) {
  auto r = Run("Promise.reject(new TypeError('nobody listens'));\nPromise.reject(1).catch(() => {});");
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("Unhandled promise rejection: TypeError: nobody listens"));
  EXPECT_EQ(r.err.find("Unhandled", 1), std::string::npos) << "the handled one is not reported";
}

TEST_F(ReactHostTest, RejectedModuleCallWithoutHandler_IsUnhandled) {
  auto r = Run("__turboModuleProxy('TalvekProbe').rejectOnWorker('bad_thing', 'it broke');");
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("Unhandled promise rejection: Error: it broke"));
}

// Listing the members of a revoked Proxy, or of one whose trap throws, left
// the engine's exception pending: making the call's promise then failed, and
// the call threw "cannot create a promise" instead of answering.
TEST_F(ReactHostTest, ArgumentsThatThrowWhileRead_ConvertByTheRuleAndTheCallAnswers) {
  auto r = Run(R"(
    const probe = __turboModuleProxy('TalvekProbe');
    const boom = () => { throw new Error('trap'); };
    const revoked = (target) => { const r = Proxy.revocable(target, {}); r.revoke(); return r.proxy; };
    const cases = [
      ['revoked', revoked({a: 1})],
      ['revoked array', revoked([1])],
      ['ownKeys', new Proxy({a: 1}, {ownKeys: boom})],
      ['getOwnPropertyDescriptor', new Proxy({a: 1}, {getOwnPropertyDescriptor: boom})],
      ['get', new Proxy({a: 1}, {get: boom})],
      ['has', new Proxy({a: 1}, {has: boom})],
      ['getter', Object.defineProperty({a: 1}, 'b', {enumerable: true, get: boom})],
      ['nested', {a: 1, inner: revoked({}), list: [revoked({}), new Proxy({}, {ownKeys: boom}), 2]}],
    ];
    (async () => {
      for (const [name, value] of cases) {
        const results = [];
        for (const method of ['echoAny', 'echoString', 'echoNumber', 'echoStrings']) {
          try {
            results.push(JSON.stringify(await probe[method](value)));
          } catch (e) {
            results.push('threw ' + e.message);
          }
        }
        console.log(name + ': ' + results.join(' '));
      }
      const strings = ['a', revoked({}), new Proxy(['b'], {get: boom})];
      console.log('strings: ' + JSON.stringify(await probe.echoStrings(strings)));
      console.log('pair: ' + JSON.stringify(await probe.echoPair(revoked({}), revoked({}))));
    })();
  )");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "revoked: {} \"\" null []\n"
            "revoked array: {} \"\" null []\n"
            "ownKeys: {} \"\" null []\n"
            "getOwnPropertyDescriptor: {} \"\" null []\n"
            "get: {} \"\" null []\n"
            "has: {\"a\":1} \"\" null []\n"
            "getter: {\"a\":1} \"\" null []\n"
            "nested: {\"a\":1,\"inner\":{},\"list\":[{},{},2]} \"\" null []\n"
            "strings: [\"a\",\"\",\"\"]\n"
            "pair: [\"\",null]\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ReactHostTest, SyntaxError_NamesFileAndLineAndRunsNothing) {
  auto r = Run("console.log('never');\nlet x = ;\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr(BundlePath() + ":2: SyntaxError"));
  EXPECT_EQ(r.out, "");
}

TEST_F(ReactHostTest, MissingBundle_ExitsOne) {
  beforeStart_ = [](ReactHost& host) { host.InstanceSettings().JavaScriptBundleFile = "absent.js"; };
  auto r = Run("");
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot read the bundle"));
}

TEST_F(ReactHostTest, RunnerExit_UsesTheCodeAndSilencesTheRest) {
  auto r = Run("console.log('before'); __talvekRun.exit(7); console.log('after'); setTimeout(() => console.log('later'), 1);");
  EXPECT_EQ(r.code, 7);
  EXPECT_EQ(r.out, "before\n");
}

TEST_F(ReactHostTest, RunnerExit_IsOnlyThereForTheRunner) {
  HostOptions options = RunnerOptions();
  options.runnerApi = false;
  auto r = Run("console.log(typeof __talvekRun);", options);
  EXPECT_EQ(r.out, "undefined\n");
}

TEST_F(ReactHostTest, Timeout_Returns124) {
  HostOptions options = RunnerOptions();
  options.timeoutMs = 100;
  auto r = Run("setInterval(() => {}, 10);", options);
  EXPECT_EQ(r.code, 124);
  EXPECT_THAT(r.err, HasSubstr("timed out after 100 ms"));
}

TEST_F(ReactHostTest, QuitFromAnotherThread_EndsStart) {
  HostOptions options = RunnerOptions();
  options.exitWhenIdle = false;
  beforeStart_ = [this](ReactHost& host) {
    helper_ = std::thread([this, &host] {
      // Once the bundle has run (slow builds take their time to get there).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
      while (linesSeen_ == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      host.Quit(3);
    });
  };
  auto r = Run("console.log('up');", options);
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out, "up\n");
}

TEST_F(ReactHostTest, RootComponent_StartedOnceTheBundleRan) {
  auto r = Run(R"(
    console.log('bundle');
    AppRegistry.registerComponent('VirelantDesktop', () => {
      console.log('provider');
      return (props) => console.log('root', JSON.stringify(props));
    });
    console.log('bundle end');
  )");
  EXPECT_EQ(r.out, "bundle\nbundle end\nprovider\nroot {\"rootTag\":1}\n");
}

TEST_F(ReactHostTest, RootComponent_MissingIsAnErrorWhenRequired) {
  HostOptions options = RunnerOptions();
  options.componentRequired = true;
  auto r = Run("console.log('x');", options);
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("Application VirelantDesktop has not been registered."));
}

// onLayout: a view that asks for it hears its frame after the commit that
// laid it out, once per changed frame; views that do not ask hear nothing.
TEST_F(ReactHostTest, LayoutEvents_FollowTheCommitsThatChangeAFrame) {
  HostOptions options = RunnerOptions();
  options.exitWhenIdle = false;
  options.render.mount = [](render::MountTransaction) {};
  auto r = Run(R"(
    const ui = nativeFabricUIManager;
    let commits = 0;
    const commit = (width) => {
      const root = ui.createNode(2, 'RCTView', 1, { width: 300, height: 200, padding: 10 }, { name: 'root' });
      const box = ui.createNode(3, 'RCTView', 1, { width, height: 20, onLayout: true }, { name: 'box' });
      const quiet = ui.createNode(4, 'RCTView', 1, { width: 5, height: 5 }, { name: 'quiet' });
      ui.appendChild(root, box);
      ui.appendChild(root, quiet);
      const set = ui.createChildSet();
      ui.appendChildToSet(set, root);
      ui.completeRoot(1, set);
      commits++;
    };
    ui.registerEventHandler((handle, type, payload) => {
      console.log(commits, handle.name, type, JSON.stringify(payload));
      if (commits === 1) {
        commit(50);  // the same frame: nothing
        commit(80);  // wider: heard
      } else {
        __talvekRun.exit(0);
      }
    });
    commit(50);
  )", options);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "1 box topLayout {\"layout\":{\"height\":20,\"width\":50,\"x\":10,\"y\":10}}\n"
            "3 box topLayout {\"layout\":{\"height\":20,\"width\":80,\"x\":10,\"y\":10}}\n");
}

// A package's native component as the bundle and the mount sink see it:
// known by name, described for the view config interop, created as a
// native view, its commands and events routed by tag.
TEST_F(ReactHostTest, NativeComponents_AreKnownDescribedMountedAndTalkBack) {
  struct SwatchPackage final : IReactPackageProvider {
    void CreatePackage(IReactPackageBuilder& builder) override {
      if (auto* fabric = dynamic_cast<IReactPackageBuilderFabric*>(&builder)) {
        fabric->AddViewComponent("TalvekTestSwatch", [](IReactViewComponentBuilder& view) {
          view.AddDirectEvent("ping");
          view.AddNativeProp("color", "Color");
        });
      }
    }
  };
  HostOptions options = RunnerOptions();
  options.exitWhenIdle = false;  // the event comes back from the mount sink
  std::mutex mutex;               // guards kinds and commands (JS thread)
  std::vector<std::string> kinds;
  std::vector<std::string> commands;
  ReactHost* running = nullptr;
  options.render.mount = [&](render::MountTransaction transaction) {
    for (const auto& op : transaction.ops) {
      if (op.kind != render::MountKind::Create || !op.model) continue;
      std::lock_guard lock(mutex);
      kinds.push_back(op.model->componentName + ":" + std::to_string(static_cast<int>(op.model->kind)));
      if (op.model->kind == render::ViewKind::Native) {
        running->DispatchViewEvent(op.tag, "topPing", JSValue{{"count", 1}, {"color", op.model->props["color"]}});
      }
    }
  };
  options.render.command = [&](render::Tag tag, const std::string& command, const JSValue& args) {
    std::lock_guard lock(mutex);
    commands.push_back(std::to_string(tag) + " " + command + " " + args.dump());
  };
  beforeStart_ = [&](ReactHost& host) {
    running = &host;
    host.InstanceSettings().PackageProviders.push_back(std::make_shared<SwatchPackage>());
  };
  auto r = Run(R"(
    const has = globalThis.__nativeComponentRegistry__hasComponent;
    console.log(has('TalvekTestSwatch'), has('RCTView'), has('RCTImageView'), has('NoSuchThing'));
    const describe = globalThis.RN$LegacyInterop_UIManager_getConstantsForViewManager;
    const config = describe('TalvekTestSwatch');
    console.log(config.baseModuleName, JSON.stringify(config.NativeProps), JSON.stringify(config.directEventTypes));
    console.log(describe('NoSuchThing'), Object.keys(describe('RCTView').NativeProps).includes('testID'));
    const ui = nativeFabricUIManager;
    ui.registerEventHandler((handle, type, payload) => {
      console.log('event', handle.name, type, JSON.stringify(payload));
      __talvekRun.exit(0);
    });
    const root = ui.createNode(2, 'RCTView', 1, { width: 100, height: 100 }, { name: 'root' });
    const swatch = ui.createNode(3, 'TalvekTestSwatch', 1, { width: 10, height: 10, color: 255 }, { name: 'swatch' });
    const stranger = ui.createNode(4, 'NoSuchThing', 1, {}, { name: 'stranger' });
    ui.appendChild(root, swatch);
    ui.appendChild(root, stranger);
    const set = ui.createChildSet();
    ui.appendChildToSet(set, root);
    ui.completeRoot(1, set);
    ui.dispatchCommand(swatch, 'reload', [1, 'x']);
    // The element API's questions, through the framework's DOM module.
    const dom = __turboModuleProxy('NativeDOMCxx');
    const names = (list) => list.map((handle) => handle.name).join(',');
    console.log(names(dom.getChildNodes(root)), names(dom.getChildNodes(dom.linkRootNode(1))),
                dom.compareDocumentPosition(swatch, stranger), dom.compareDocumentPosition(swatch, root),
                dom.isConnected(swatch), dom.isConnected(ui.createNode(9, 'RCTView', 1, {}, {})));
  )", options);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "true true true false\n"
            "RCTView {\"color\":\"Color\"} {\"topPing\":{\"registrationName\":\"onPing\"}}\n"
            "null true\n"
            "swatch,stranger root 4 10 true false\n"
            "event swatch topPing {\"color\":255,\"count\":1}\n");
  std::lock_guard lock(mutex);
  EXPECT_EQ(kinds, (std::vector<std::string>{"RootView:0", "RCTView:0", "TalvekTestSwatch:3", "NoSuchThing:4"}));
  EXPECT_EQ(commands, (std::vector<std::string>{R"(3 reload [1,"x"])"}));
}

TEST_F(ReactHostTest, ImageGetSize_AnswersFromTheSizeReaderOrRejects) {
  HostOptions options = RunnerOptions();
  std::vector<std::thread> readers;
  options.render.imageSize = [&](const std::string& uri, std::function<void(int, int, std::string)> done) {
    // Answers from another thread, as the real reader does.
    readers.emplace_back([uri, done = std::move(done)] {
      if (uri == "file:///a.png") done(640, 480, "");
      else done(0, 0, "not a readable image");
    });
  };
  auto r = Run(R"(
    const loader = __turboModuleProxy('ImageLoader');
    loader.getSize('file:///a.png').then((size) => console.log('size', JSON.stringify(size)));
    loader.getSize('file:///b.txt').catch((e) => console.log('rejected', e.code, e.message));
    loader.getSizeWithHeaders('file:///a.png', {}).then((size) => console.log('with headers', JSON.stringify(size)));
  )", options);
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("size [640,480]\n"));
  EXPECT_THAT(r.out, HasSubstr("rejected E_GET_SIZE_FAILURE Cannot read the size of file:///b.txt: not a readable image\n"));
  EXPECT_THAT(r.out, HasSubstr("with headers {\"width\":640,\"height\":480}\n"));

  // Without a reader (no renderer): a rejection, not a hang.
  auto none = Run(R"(
    __turboModuleProxy('ImageLoader').getSize('file:///a.png').catch((e) => console.log('rejected', e.message));
  )");
  EXPECT_EQ(none.out, "rejected Image.getSize is not available\n");
}

TEST_F(ReactHostTest, ThrowingListener_IsReportedAndTheOthersStillRun) {
  auto r = Run(R"(
    RCTDeviceEventEmitter.addListener('e', () => { throw new Error('listener broke'); });
    RCTDeviceEventEmitter.addListener('e', (p) => console.log('second', p.n));
    __turboModuleProxy('TalvekProbe').emitOnWorker(1).then(() => RCTDeviceEventEmitter.emit('e', {n: 2}));
  )");
  EXPECT_THAT(r.err, HasSubstr("Uncaught Error: listener broke"));
  EXPECT_EQ(r.out, "second 2\n");
  EXPECT_EQ(r.code, 1);
}

TEST_F(ReactHostTest, HostsRunOneAfterAnother) {
  for (int i = 0; i < 3; ++i) {
    auto r = Run("__turboModuleProxy('TalvekProbe').ping().then(() => console.log('ok'));");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "ok\n");
  }
}

TEST_F(ReactHostTest, ExitWithWorkStillRunning_DoesNotWaitForIt) {
  auto start = std::chrono::steady_clock::now();
  auto r = Run("__turboModuleProxy('TalvekProbe').resolveOnWorker(1, 2000); __talvekRun.exit(0);");
  EXPECT_EQ(r.code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  // The worker settles into a stopped host later; that must be harmless.
}

// Every descriptor the running host holds must be close-on-exec, so children
// started by modules inherit nothing.
TEST_F(ReactHostTest, DescriptorsAreCloseOnExec) {
  HostOptions options = RunnerOptions();
  options.exitWhenIdle = false;
  std::vector<std::string> leaks;
  beforeStart_ = [this, &leaks](ReactHost& host) {
    helper_ = std::thread([&host, &leaks] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (DIR* dir = opendir("/proc/self/fd")) {
        const int self = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
          const int fd = atoi(entry->d_name);
          if (entry->d_name[0] == '.' || fd <= 2 || fd == self) continue;
          const int flags = fcntl(fd, F_GETFD);
          if (flags >= 0 && (flags & FD_CLOEXEC) == 0) leaks.push_back(entry->d_name);
        }
        closedir(dir);
      }
      host.Quit(0);
    });
  };
  auto r = Run("setTimeout(() => __turboModuleProxy('TalvekProbe').ping(), 1);", options);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(leaks.empty()) << ::testing::PrintToString(leaks);
}

}  // namespace
}  // namespace VirelantDesktop::host
