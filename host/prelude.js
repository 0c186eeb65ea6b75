// Globals the host gives every bundle before it runs: console, timers,
// queueMicrotask, the module proxy, RCTDeviceEventEmitter and AppRegistry.
// Evaluated once per host as a function of the native bindings; it returns
// the hooks the host calls later.
(function (native) {
  'use strict';
  const g = globalThis;
  const define = (name, value) =>
    Object.defineProperty(g, name, { value, writable: true, configurable: true, enumerable: false });

  // ---- console -------------------------------------------------------------
  function quote(s) {
    return JSON.stringify(s);
  }
  function inspect(value, seen, depth) {
    switch (typeof value) {
      case 'string':
        return depth === 0 ? value : quote(value);
      case 'number':
        return Object.is(value, -0) ? '-0' : String(value);
      case 'bigint':
        return String(value) + 'n';
      case 'undefined':
      case 'boolean':
      case 'symbol':
        return String(value);
      case 'function':
        return value.name ? '[Function: ' + value.name + ']' : '[Function (anonymous)]';
    }
    if (value === null) return 'null';
    if (value instanceof Error) return describeError(value);
    if (seen.includes(value)) return '[Circular]';
    if (depth > 4) return Array.isArray(value) ? '[Array]' : '[Object]';
    seen.push(value);
    try {
      if (Array.isArray(value)) {
        return '[' + value.map((v) => inspect(v, seen, depth + 1)).join(', ') + ']';
      }
      const keys = Object.keys(value);
      if (keys.length === 0) return '{}';
      const parts = keys.map((k) => {
        const name = /^[A-Za-z_$][\w$]*$/.test(k) ? k : quote(k);
        let member;
        try {
          member = inspect(value[k], seen, depth + 1);
        } catch (e) {
          member = '[Getter threw]';
        }
        return name + ': ' + member;
      });
      return '{ ' + parts.join(', ') + ' }';
    } finally {
      seen.pop();
    }
  }
  function format(args) {
    let out = '';
    for (let i = 0; i < args.length; i++) {
      if (i > 0) out += ' ';
      try {
        out += inspect(args[i], [], 0);
      } catch (e) {
        out += '[Uninspectable]';
      }
    }
    return out;
  }
  function describeError(e) {
    if (!(e instanceof Error)) {
      try {
        return inspect(e, [], 1);
      } catch (_) {
        return '[Unprintable value]';
      }
    }
    let head = String(e.name || 'Error') + (e.message ? ': ' + e.message : '');
    const stack = typeof e.stack === 'string' ? e.stack : '';
    // The engine writes frames as "name@file:line:column"; the host's own
    // frames are left out.
    const frames = stack
      .split('\n')
      .filter((line) => line.length > 0 && !line.includes('talvek:prelude'))
      .map((line) => {
        const at = line.indexOf('@');
        if (at < 0) return '    at ' + line;
        const name = line.slice(0, at);
        const where = line.slice(at + 1);
        return '    at ' + (name ? name + ' (' + where + ')' : where);
      });
    if (frames.length === 0 && e.sourceURL !== undefined) {
      frames.push('    at ' + e.sourceURL + ':' + e.line + (e.column !== undefined ? ':' + e.column : ''));
    }
    return [head].concat(frames).join('\n');
  }
  const out = (...args) => native.write(1, format(args));
  const err = (...args) => native.write(2, format(args));
  define('console', { log: out, info: out, debug: out, warn: err, error: err });

  // ---- timers and microtasks -------------------------------------------------
  function checkCallback(fn, what) {
    if (typeof fn !== 'function') throw new TypeError(what + ': callback must be a function');
  }
  define('setTimeout', function setTimeout(fn, ms, ...args) {
    checkCallback(fn, 'setTimeout');
    return native.setTimer(fn, ms, false, args);
  });
  define('setInterval', function setInterval(fn, ms, ...args) {
    checkCallback(fn, 'setInterval');
    return native.setTimer(fn, ms, true, args);
  });
  define('clearTimeout', function clearTimeout(id) {
    native.clearTimer(id);
  });
  define('clearInterval', function clearInterval(id) {
    native.clearTimer(id);
  });
  // The engine's own microtask queue, kept even when a bundle replaces
  // Promise (React Native's environment does).
  const resolved = Promise.resolve();
  const then = Promise.prototype.then;
  function queueMicrotask(fn) {
    checkCallback(fn, 'queueMicrotask');
    then.call(resolved, () => {
      try {
        fn();
      } catch (e) {
        native.reportError(e);
      }
    });
  }
  define('queueMicrotask', queueMicrotask);
  // Frames: about 60 a second; the callback gets the frame's time stamp.
  define('requestAnimationFrame', function requestAnimationFrame(fn) {
    checkCallback(fn, 'requestAnimationFrame');
    return native.setTimer(() => fn(native.now()), 16, false, []);
  });
  define('cancelAnimationFrame', function cancelAnimationFrame(id) {
    native.clearTimer(id);
  });
  define('global', g);

  // ---- native modules -----------------------------------------------------------
  // The program's modules first, then the framework's own that a React
  // Native environment expects (answered by the host).
  const nativeModule = g.__turboModuleProxy;
  let coreModule = () => null;
  define('__turboModuleProxy', function __turboModuleProxy(name) {
    const module = nativeModule(name);
    return module !== null ? module : coreModule(String(name));
  });
  define(
    'nativeModuleProxy',
    new Proxy(
      {},
      {
        get(_, name) {
          return typeof name === 'string' ? g.__turboModuleProxy(name) : undefined;
        },
      }
    )
  );

  // ---- events -------------------------------------------------------------------
  const listeners = new Map(); // event name -> array of { fn, context }
  define('RCTDeviceEventEmitter', {
    addListener(name, fn, context) {
      checkCallback(fn, 'addListener');
      const key = String(name);
      const entry = { fn, context };
      let list = listeners.get(key);
      if (!list) listeners.set(key, (list = []));
      list.push(entry);
      return {
        remove() {
          const current = listeners.get(key);
          if (!current) return;
          const at = current.indexOf(entry);
          if (at >= 0) current.splice(at, 1);
          if (current.length === 0) listeners.delete(key);
        },
      };
    },
    removeAllListeners(name) {
      if (name === undefined) listeners.clear();
      else listeners.delete(String(name));
    },
    emit(name, ...args) {
      const list = listeners.get(String(name));
      if (list) {
        for (const { fn, context } of list.slice()) {
          try {
            fn.apply(context, args);
          } catch (e) {
            native.reportError(e);
          }
        }
      }
      // A React Native environment listens on its own emitter.
      const own = callable('RCTDeviceEventEmitter');
      if (own && typeof own.emit === 'function') {
        try {
          own.emit(String(name), ...args);
        } catch (e) {
          native.reportError(e);
        }
      }
    },
    listenerCount(name) {
      const list = listeners.get(String(name));
      return list ? list.length : 0;
    },
  });

  // ---- the framework's environment ---------------------------------------------------
  // What React Native's JavaScript looks for on a host of the new
  // architecture: the bridgeless flag, callable modules (its event emitter
  // among them) and the exception hooks.
  define('RN$Bridgeless', true);
  const callables = new Map(); // name -> { factory, module }
  define('RN$registerCallableModule', function registerCallableModule(name, factory) {
    checkCallback(factory, 'RN$registerCallableModule');
    callables.set(String(name), { factory, module: undefined });
  });
  function callable(name) {
    const entry = callables.get(name);
    if (!entry) return null;
    if (entry.module === undefined) entry.module = entry.factory();
    return entry.module;
  }
  function reportException(message, stack, fatal) {
    native.write(2, (fatal ? 'Fatal: ' : 'Error: ') + String(message) + (typeof stack === 'string' ? '\n' + stack : ''));
    native.noteError();
  }
  coreModule = native.coreModules(native, { queueMicrotask, reportException });

  // ---- native view components ------------------------------------------------------
  // Which host components exist, and how a bundle that does not carry a
  // component's view config (requireNativeComponent) sees it: the
  // framework's view config interop reads these.
  define('__nativeComponentRegistry__hasComponent', function hasComponent(name) {
    return native.viewComponent(String(name)) != null;
  });
  const phased = (prop) => ({ phasedRegistrationNames: { bubbled: prop, captured: prop + 'Capture' } });
  const genericEvents = {
    genericBubblingEventTypes: {
      topTouchStart: phased('onTouchStart'),
      topTouchMove: phased('onTouchMove'),
      topTouchEnd: phased('onTouchEnd'),
      topTouchCancel: phased('onTouchCancel'),
      topPointerMove: phased('onPointerMove'),
    },
    genericDirectEventTypes: {
      topLayout: { registrationName: 'onLayout' },
      topPointerEnter: { registrationName: 'onPointerEnter' },
      topPointerLeave: { registrationName: 'onPointerLeave' },
    },
  };
  const coreViewConfig = {
    NativeProps: {
      testID: 'String', nativeID: 'String', pointerEvents: 'String', accessible: 'boolean',
      accessibilityLabel: 'String', accessibilityRole: 'String', role: 'String', collapsable: 'boolean',
      onLayout: 'boolean', onPointerEnter: 'boolean', onPointerLeave: 'boolean', onPointerMove: 'boolean',
    },
    bubblingEventTypes: {},
    directEventTypes: {},
  };
  define('RN$LegacyInterop_UIManager_getConstants', function getConstants() {
    return Object.assign({}, genericEvents);
  });
  define('RN$LegacyInterop_UIManager_getConstantsForViewManager', function getConstantsForViewManager(name) {
    const config = native.viewComponent(String(name));
    if (config === 'core') return String(name) === 'RCTView' ? JSON.parse(JSON.stringify(coreViewConfig)) : null;
    return config;
  });
  define('RN$LegacyInterop_UIManager_getDefaultEventTypes', function getDefaultEventTypes() {
    return {
      bubblingEventTypes: Object.assign({}, genericEvents.genericBubblingEventTypes),
      directEventTypes: Object.assign({}, genericEvents.genericDirectEventTypes),
    };
  });

  // ---- application registry --------------------------------------------------------
  const components = new Map(); // name -> provider
  define('AppRegistry', {
    registerComponent(name, provider) {
      checkCallback(provider, 'registerComponent');
      components.set(String(name), provider);
      return name;
    },
    getAppKeys() {
      return Array.from(components.keys());
    },
  });
  function startComponent(name, required) {
    // A React Native environment registered its own registry: it renders
    // the component through the renderer into surface 1.
    const registry = g.RN$AppRegistry;
    if (registry && typeof registry.runApplication === 'function') {
      const keys = typeof registry.getAppKeys === 'function' ? registry.getAppKeys() : [name];
      if (keys.indexOf(name) < 0) {
        if (required) throw new Error('Application ' + name + ' has not been registered.');
        return false;
      }
      registry.runApplication(name, { rootTag: native.rootTag, initialProps: {}, fabric: true });
      return true;
    }
    const provider = components.get(name);
    if (provider === undefined) {
      if (required) throw new Error('Application ' + name + ' has not been registered.');
      return false;
    }
    const root = provider();
    // A bundle that carries a renderer of its own mounts components with it.
    const renderer = g.__talvekRenderer;
    if (renderer && typeof renderer.render === 'function' && root !== null && (typeof root === 'function' || typeof root === 'object')) {
      renderer.render(root, native.rootTag);
    } else if (typeof root === 'function') {
      root({ rootTag: native.rootTag });
    }
    return true;
  }

  return { describeError, startComponent };
})
