// The components apps build with: thin wrappers over the host components
// RCTView, RCTText / RCTVirtualText and RCTImageView, and a Pressable made
// from touch events.
'use strict';

const React = require('react');

const h = React.createElement;

// Whether the component sits inside a Text: a Text there is a span of the
// enclosing paragraph (RCTVirtualText), not a paragraph of its own.
const TextAncestor = React.createContext(false);

function View(props) {
  const inText = React.useContext(TextAncestor);
  const view = h('RCTView', props);
  return inText ? h(TextAncestor.Provider, { value: false }, view) : view;
}

function Text(props) {
  const inText = React.useContext(TextAncestor);
  if (inText) return h('RCTVirtualText', props);
  return h(TextAncestor.Provider, { value: true }, h('RCTText', props));
}

// A source with a size gives the image that size unless the style says
// otherwise.
function Image(props) {
  const { source, style } = props;
  const sized =
    source != null && typeof source === 'object' && !Array.isArray(source) &&
    (typeof source.width === 'number' || typeof source.height === 'number');
  const sizedStyle = sized ? [{ width: source.width, height: source.height }, style] : style;
  return h('RCTImageView', Object.assign({}, props, { style: sizedStyle }));
}

// Touches already taken by a Pressable nested deeper: a touch presses only
// the innermost Pressable it began on (the event bubbles to the outer ones).
const claimedTouches = new WeakSet(); // native touch-start events

function call(handler, event) {
  if (typeof handler === 'function') handler(event);
}

// onPressIn when a touch begins on it, onPressOut when that touch ends or is
// cancelled, and onPress when it ends. `style` and `children` may be
// functions of {pressed}.
function Pressable(props) {
  const { onPress, onPressIn, onPressOut, disabled, style, children, ...rest } = props;
  const [pressed, setPressed] = React.useState(false);
  const active = React.useRef(false); // a touch that began here is down

  const release = (event, completed) => {
    if (!active.current) return;
    active.current = false;
    setPressed(false);
    call(onPressOut, event);
    if (completed) call(onPress, event);
  };

  return h(
    View,
    Object.assign({ accessible: true, accessibilityRole: 'button' }, rest, {
      accessibilityState: disabled ? Object.assign({}, rest.accessibilityState, { disabled: true }) : rest.accessibilityState,
      style: typeof style === 'function' ? style({ pressed }) : style,
      onTouchStart(event) {
        call(rest.onTouchStart, event);
        if (disabled || active.current || claimedTouches.has(event.nativeEvent)) return;
        claimedTouches.add(event.nativeEvent);
        active.current = true;
        setPressed(true);
        call(onPressIn, event);
      },
      onTouchEnd(event) {
        call(rest.onTouchEnd, event);
        release(event, true);
      },
      onTouchCancel(event) {
        call(rest.onTouchCancel, event);
        release(event, false);
      },
    }),
    typeof children === 'function' ? children({ pressed }) : children
  );
}

// A scroll view as React Native's draws it: the host scroll view around one
// content view holding the children. The ref is the scroll view's, for
// dispatchCommand(ref, 'scrollTo', [x, y, animated]) and 'scrollToEnd'.
const ScrollView = React.forwardRef(function ScrollView(props, ref) {
  const { children, contentContainerStyle, horizontal, style, ...rest } = props;
  const base = { flexGrow: 1, flexShrink: 1, overflow: 'scroll', flexDirection: horizontal ? 'row' : 'column' };
  const content = h(
    'RCTScrollContentView',
    { collapsable: false, style: [horizontal ? { flexDirection: 'row' } : null, contentContainerStyle] },
    children
  );
  return h('RCTScrollView', Object.assign({}, rest, { ref, horizontal: !!horizontal, style: [base, style] }), content);
});

module.exports = { View, Text, Image, Pressable, ScrollView, TextAncestor };
