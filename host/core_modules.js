// The framework's own modules, which a React Native app's JavaScript
// environment asks for at start-up (platform constants, device metrics,
// appearance, writing direction, microtasks, idle callbacks, performance,
// exceptions...). They answer from the host's environment: the window's
// size and scale, the desktop's colour scheme, the locale.
//
// Evaluated once per host as a function of the native bindings and the
// prelude's helpers; returns a function name -> module object (or null).
(function (native, helpers) {
  'use strict';
  const env = () => native.environment();
  const noop = () => {};
  const start = Date.now();
  const now = () => native.now();

  function dimensions() {
    const e = env();
    const window = { width: e.width, height: e.height, scale: e.scale, fontScale: e.fontScale };
    return { window, screen: Object.assign({}, window, { width: e.screenWidth, height: e.screenHeight }) };
  }

  // The DOM-like node APIs of React Native elements, answered from the
  // committed layout where the host knows it.
  const ui = () => globalThis.nativeFabricUIManager;
  const isNode = (node) => node !== null && typeof node === 'object' && !('rootTag' in node);
  const rect = (node) => (isNode(node) ? ui().getBoundingClientRect(node, true) : [0, 0, 0, 0]);
  const dom = {
    linkRootNode: (rootTag) => ({ rootTag }),
    measure(node, callback) {
      if (isNode(node)) ui().measure(node, callback);
      else callback(0, 0, env().width, env().height, 0, 0);
    },
    measureInWindow(node, callback) {
      if (isNode(node)) ui().measureInWindow(node, callback);
      else callback(0, 0, env().width, env().height);
    },
    measureLayout(node, relativeTo, onFail, onSuccess) {
      if (isNode(node) && isNode(relativeTo)) ui().measureLayout(node, relativeTo, onFail, onSuccess);
      else onFail();
    },
    getBoundingClientRect: (node) => rect(node),
    getBorderWidth: () => [0, 0, 0, 0],
    getInnerSize: (node) => rect(node).slice(2),
    getOffset: () => [null, 0, 0],
    getScrollPosition: () => [0, 0],
    getScrollSize: (node) => rect(node).slice(2),
    getParentNode: (node) => (isNode(node) ? ui().getParentNode(node) : null),
    getChildNodes: (node) => (node !== null && typeof node === 'object' ? ui().getChildNodes(node) : []),
    getElementById: () => null,
    getTagName: () => 'RN:View',
    getTextContent: () => '',
    isConnected: (node) => (isNode(node) ? ui().isConnected(node) : node != null),
    compareDocumentPosition: (node, other) =>
      isNode(node) && isNode(other) ? ui().compareDocumentPosition(node, other) : 1,
    hasPointerCapture: () => false,
    setPointerCapture: noop,
    releasePointerCapture: noop,
    setNativeProps: noop,
  };

  const idle = new Map();  // handle -> timer id
  let nextIdle = 1;

  const table = {
    PlatformConstants: () => ({
      getConstants() {
        const e = env();
        return {
          isTesting: false,
          isDisableAnimations: false,
          reactNativeVersion: { major: 0, minor: 88, patch: 1, prerelease: null },
          forceTouchAvailable: false,
          osVersion: e.osVersion,
          systemName: 'Linux',
          interfaceIdiom: 'desktop',
          Version: 0,
          Release: e.osVersion,
          Serial: 'unknown',
          Fingerprint: 'talvek',
          Model: 'desktop',
          Manufacturer: 'unknown',
          Brand: 'unknown',
          ServerHost: '',
          uiMode: 'desktop',
        };
      },
    }),
    DeviceInfo: () => ({
      getConstants() {
        return { Dimensions: dimensions(), isIPhoneX_deprecated: false };
      },
    }),
    Appearance: () => ({
      getColorScheme: () => env().colorScheme,
      setColorScheme: noop,
      addListener: noop,
      removeListeners: noop,
    }),
    I18nManager: () => ({
      getConstants() {
        const e = env();
        return { isRTL: e.isRTL, doLeftAndRightSwapInRTL: true, localeIdentifier: e.locale };
      },
      allowRTL: noop,
      forceRTL: noop,
      swapLeftAndRightInRTL: noop,
    }),
    NativeReactNativeFeatureFlagsCxx: () => ({}),
    NativeMicrotasksCxx: () => ({ queueMicrotask: helpers.queueMicrotask }),
    NativeIdleCallbacksCxx: () => ({
      requestIdleCallback(callback, options) {
        const handle = nextIdle++;
        const timeout = options && typeof options.timeout === 'number' ? options.timeout : 0;
        const begun = now();
        const id = setTimeout(() => {
          idle.delete(handle);
          callback({ didTimeout: timeout > 0 && now() - begun >= timeout, timeRemaining: () => 50 });
        }, 1);
        idle.set(handle, id);
        return handle;
      },
      cancelIdleCallback(handle) {
        const id = idle.get(handle);
        if (id !== undefined) clearTimeout(id);
        idle.delete(handle);
      },
    }),
    NativePerformanceCxx: () => ({
      now,
      timeOrigin: () => start,
      reportMark: noop,
      reportMeasure: noop,
      markWithResult: () => now(),
      measureWithResult: () => [0, 0],
      getMarkTime: () => null,
      clearMarks: noop,
      clearMeasures: noop,
      getEntries: () => [],
      getEntriesByName: () => [],
      getEntriesByType: () => [],
      getEventCounts: () => [],
      getSimpleMemoryInfo: () => ({}),
      getReactNativeStartupTiming: () => ({}),
      createObserver: () => ({}),
      getDroppedEntriesCount: () => 0,
      observe: noop,
      disconnect: noop,
      takeRecords: () => [],
      getSupportedPerformanceEntryTypes: () => [],
      clearEventCountsForTesting: noop,
    }),
    DeviceEventManager: () => ({ invokeDefaultBackPressHandler: noop }),
    SoundManager: () => ({ playTouchSound: noop }),
    NativeDOMCxx: () => dom,
    ExceptionsManager: () => ({
      reportFatalException: (message, stack) => helpers.reportException(message, stack, true),
      reportSoftException: (message, stack) => helpers.reportException(message, stack, false),
      reportException(data) {
        helpers.reportException(data && data.message, data && data.stack, !!(data && data.isFatal));
      },
      updateExceptionMessage: noop,
      dismissRedbox: noop,
    }),
    AppState: () => ({
      getConstants: () => ({ initialAppState: 'active' }),
      getCurrentAppState: (success) => success({ app_state: 'active' }),
      addListener: noop,
      removeListeners: noop,
    }),
    SourceCode: () => ({ getConstants: () => ({ scriptURL: native.bundleUrl() }) }),
    StatusBarManager: () => ({
      getConstants: () => ({ HEIGHT: 0, DEFAULT_BACKGROUND_COLOR: 0 }),
      getHeight: (callback) => callback({ height: 0 }),
      setColor: noop,
      setTranslucent: noop,
      setStyle: noop,
      setHidden: noop,
      setNetworkActivityIndicatorVisible: noop,
    }),
    ImageLoader: () => ({
      getConstants: () => ({}),
      getSize: (uri) => native.imageSize(String(uri)),
      getSizeWithHeaders: (uri) => native.imageSize(String(uri)).then(([width, height]) => ({ width, height })),
      prefetchImage: () => Promise.resolve(true),
      prefetchImageWithMetadata: () => Promise.resolve(true),
      queryCache: () => Promise.resolve({}),
      abortRequest: noop,
    }),
    DevSettings: () => ({
      reload: noop,
      reloadWithReason: noop,
      onFastRefresh: noop,
      setHotLoadingEnabled: noop,
      setIsDebuggingRemotely: noop,
      setProfilingEnabled: noop,
      toggleElementInspector: noop,
      addMenuItem: noop,
      openDebugger: noop,
      addListener: noop,
      removeListeners: noop,
      setIsShakeToShowDevMenuEnabled: noop,
    }),
    Vibration: () => ({ getConstants: () => ({}), vibrate: noop, vibrateByPattern: noop, cancel: noop }),
    KeyboardObserver: () => ({ addListener: noop, removeListeners: noop }),
    AccessibilityInfo: () => ({
      isReduceMotionEnabled: (done) => done(false),
      isTouchExplorationEnabled: (done) => done(false),
      isAccessibilityServiceEnabled: (done) => done(false),
      setAccessibilityFocus: noop,
      announceForAccessibility: noop,
      getRecommendedTimeoutMillis: (timeout, done) => done(timeout),
    }),
  };

  const made = new Map();
  return function coreModule(name) {
    if (made.has(name)) return made.get(name);
    const make = Object.prototype.hasOwnProperty.call(table, name) ? table[name] : null;
    const module = make ? make() : null;
    made.set(name, module);
    return module;
  };
})
