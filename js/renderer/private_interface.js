// What React's Fabric renderer requires as `react-native/react-private-interface`:
// the host's UI manager, view configs, prop payloads, public instances and
// a few hooks a full React Native environment would provide. The bundler
// maps that module name here (see build.js).
'use strict';

const payload = require('./attribute_payload');
const registry = require('./view_configs');
const instances = require('./public_instance');

const TOUCH_TYPES = new Set(['topTouchStart', 'topTouchMove', 'topTouchEnd', 'topTouchCancel']);

// The renderer's touch handling reads `touches` / `changedTouches` (each
// touch with an identifier and a timestamp). A host event that carries a
// single touch's fields only is given that shape: one touch, identifier 0
// unless stated, gone from `touches` once it ended.
function normalizeTouchEvent(type, nativeEvent) {
  if (!TOUCH_TYPES.has(type) || nativeEvent == null || typeof nativeEvent !== 'object') return nativeEvent;
  if (Array.isArray(nativeEvent.touches) && Array.isArray(nativeEvent.changedTouches)) return nativeEvent;
  const touch = Object.assign({ identifier: 0, timestamp: Date.now() }, nativeEvent);
  const ended = type === 'topTouchEnd' || type === 'topTouchCancel';
  return Object.assign({}, touch, { touches: ended ? [] : [touch], changedTouches: [touch] });
}

let uiManager = null;

// The host's `nativeFabricUIManager`, with the event handler wrapped: events
// no view config declares are dropped here (the renderer would throw on
// them), and touch events are brought into the shape above.
function fabricUIManager() {
  if (uiManager !== null) return uiManager;
  const host = globalThis.nativeFabricUIManager;
  if (host == null || typeof host.createNode !== 'function') {
    throw new Error('The host provides no nativeFabricUIManager; this bundle needs a Fabric host');
  }
  const registerEventHandler = function registerEventHandler(dispatch) {
    host.registerEventHandler(function dispatchEvent(instanceHandle, type, nativeEvent) {
      if (!registry.isKnownEventType(type)) return;
      dispatch(instanceHandle, type, normalizeTouchEvent(type, nativeEvent));
    });
  };
  uiManager = Object.create(host, { registerEventHandler: { value: registerEventHandler } });
  return uiManager;
}

module.exports = {
  get fabricUIManager() {
    return fabricUIManager();
  },
  ReactNativeViewConfigRegistry: registry,
  createAttributePayload: payload.createAttributePayload,
  diffAttributePayloads: payload.diffAttributePayloads,
  flattenStyle: payload.flattenStyle,
  deepDiffer: payload.deepDiffer,
  createPublicInstance: instances.createPublicInstance,
  createPublicTextInstance: instances.createPublicTextInstance,
  createPublicRootInstance: instances.createPublicRootInstance,
  getNativeTagFromPublicInstance: instances.getNativeTagFromPublicInstance,
  getNodeFromPublicInstance: instances.getNodeFromPublicInstance,
  getInternalInstanceHandleFromPublicInstance: instances.getInternalInstanceHandleFromPublicInstance,
  // Nobody observes raw events here.
  RawEventEmitter: { emit() {} },
  // Returning true lets the renderer log the error itself.
  ReactFiberErrorDialog: { showErrorDialog: () => true },
  // Events go through the renderer's own plugins, not DOM-style targets, so
  // dispatchNativeEvent is never reached.
  ReactNativeFeatureFlags: { enableNativeEventTargetEventDispatching: () => false },
  dispatchNativeEvent() {},
  Platform: { OS: 'desktop', select: (choices) => ('desktop' in choices ? choices.desktop : choices.default) },
  TextInputState: {
    currentlyFocusedInput: () => null,
    focusInput() {},
    blurInput() {},
    isTextInput: () => false,
  },
  legacySendAccessibilityEvent() {},
  deepFreezeAndThrowOnMutationInDev: (object) => object,
  normalizeTouchEvent,
};
