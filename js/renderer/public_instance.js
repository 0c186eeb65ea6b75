// What a `ref` on a host component gives the app: an object that measures
// the view through the host, and the renderer's way back from such an
// object to the native tag, the current shadow node and the fiber.
'use strict';

function uiManager() {
  return globalThis.nativeFabricUIManager;
}

// The renderer is required lazily: it requires this module while loading.
function currentNode(internalInstanceHandle) {
  const renderer = require('react-native/Libraries/Renderer/implementations/ReactFabric-prod.js');
  return renderer.getNodeFromInternalInstanceHandle(internalInstanceHandle);
}

function noop() {}

class HostInstance {
  constructor(tag, viewConfig, internalInstanceHandle, rootInstance) {
    this.__nativeTag = tag;
    this.__viewConfig = viewConfig;
    this.__internalInstanceHandle = internalInstanceHandle;
    this.__rootInstance = rootInstance;
  }

  get _nativeTag() {
    return this.__nativeTag;
  }

  // cb(x, y, width, height, pageX, pageY)
  measure(callback) {
    const node = currentNode(this.__internalInstanceHandle);
    if (node != null) uiManager().measure(node, callback);
  }

  // cb(x, y, width, height) in window coordinates
  measureInWindow(callback) {
    const node = currentNode(this.__internalInstanceHandle);
    if (node != null) uiManager().measureInWindow(node, callback);
  }

  // onSuccess(left, top, width, height) relative to `relativeTo` (another
  // host instance).
  measureLayout(relativeTo, onSuccess, onFail) {
    const node = currentNode(this.__internalInstanceHandle);
    const other = relativeTo instanceof HostInstance ? currentNode(relativeTo.__internalInstanceHandle) : null;
    if (node == null || other == null) {
      if (typeof onFail === 'function') onFail();
      return;
    }
    uiManager().measureLayout(node, other, typeof onFail === 'function' ? onFail : noop, onSuccess);
  }

  getBoundingClientRect() {
    const node = currentNode(this.__internalInstanceHandle);
    const rect = node != null ? uiManager().getBoundingClientRect(node, true) : null;
    const [x, y, width, height] = Array.isArray(rect) ? rect : [0, 0, 0, 0];
    return { x, y, width, height, top: y, left: x, right: x + width, bottom: y + height };
  }

  // Focus and native props belong to text inputs and animated views, which
  // this runtime does not have.
  focus() {}
  blur() {}
  setNativeProps() {}
}

function createPublicInstance(tag, viewConfig, internalInstanceHandle, rootInstance) {
  return new HostInstance(tag, viewConfig, internalInstanceHandle, rootInstance);
}

function createPublicTextInstance(internalInstanceHandle) {
  return { __internalInstanceHandle: internalInstanceHandle };
}

function createPublicRootInstance(rootTag) {
  return { rootTag, __nativeTag: rootTag };
}

function getNativeTagFromPublicInstance(instance) {
  return instance != null ? instance.__nativeTag : undefined;
}

function getNodeFromPublicInstance(instance) {
  if (instance == null || instance.__internalInstanceHandle == null) return null;
  return currentNode(instance.__internalInstanceHandle);
}

function getInternalInstanceHandleFromPublicInstance(instance) {
  return instance != null ? instance.__internalInstanceHandle : null;
}

module.exports = {
  HostInstance,
  createPublicInstance,
  createPublicTextInstance,
  createPublicRootInstance,
  getNativeTagFromPublicInstance,
  getNodeFromPublicInstance,
  getInternalInstanceHandleFromPublicInstance,
};
