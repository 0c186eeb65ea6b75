// The renderer runtime bundled into apps that use React directly: React's
// Fabric renderer over the host's nativeFabricUIManager, the host
// components, and the hook the host starts components through
// (`globalThis.__talvekRenderer.render(Component, rootTag)`).
'use strict';

const React = require('react');
const ReactFabric = require('react-native/Libraries/Renderer/implementations/ReactFabric-prod.js');
const { View, Text, Image, Pressable, ScrollView } = require('./components');
const registry = require('./view_configs');

function isComponentType(value) {
  return typeof value === 'function' || (value != null && typeof value === 'object' && value.$$typeof !== undefined);
}

// An error no boundary caught has unmounted the root's tree. Which
// components it passed through goes to the console; the error itself is
// rethrown outside React so the host reports it as uncaught (and counts it).
function reportUncaught(error, info) {
  const stack = info && typeof info.componentStack === 'string' ? info.componentStack : '';
  console.error('The tree was unmounted after an error while rendering, in:' + stack);
  const rethrow = () => {
    throw error;
  };
  if (typeof queueMicrotask === 'function') queueMicrotask(rethrow);
  else setTimeout(rethrow, 0);
}

// Renders `elementOrComponent` (an element, or a component to render without
// props) into surface `rootTag`, replacing what was there. Concurrent roots,
// as React Native uses; the first commit happens on a later task.
function render(elementOrComponent, rootTag) {
  let element = elementOrComponent;
  if (!React.isValidElement(element)) {
    if (!isComponentType(element)) throw new TypeError('render() takes a React element or component');
    element = React.createElement(element);
  }
  if (typeof rootTag !== 'number') throw new TypeError('render() needs a numeric root tag');
  ReactFabric.render(element, rootTag, null, true, { onUncaughtError: reportUncaught });
}

// Removes everything rendered into `rootTag` (the host gets an empty root).
function unmount(rootTag) {
  ReactFabric.stopSurface(rootTag);
}

globalThis.__talvekRenderer = { render, unmount };

module.exports = {
  React,
  render,
  unmount,
  View,
  Text,
  Image,
  Pressable,
  ScrollView,
  registerViewConfig: registry.register,
  requireNativeComponent: registry.requireNativeComponent,
  // Sends a command to a native component's view: (ref.current, name, args).
  dispatchCommand: ReactFabric.dispatchCommand,
  processColor: registry.processColor,
};
