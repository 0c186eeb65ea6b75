// View configs of the host components this runtime renders, and the registry
// the renderer reads them from.
//
// A view config names the host component (`uiViewClassName`), the props the
// host understands (`validAttributes`, see attribute_payload.js) and the
// events it sends: bubbling ones (two-phase, e.g. touches) and direct ones
// (only to the target, e.g. layout). The renderer keeps references to
// `customBubblingEventTypes` / `customDirectEventTypes` and looks every
// incoming event type up there, so they are filled as configs register.
'use strict';

const normalizeColor = require('@react-native/normalize-colors');

// A CSS-style colour (name, #rgb[a], #rrggbb[aa], rgb(), hsl(), ...) or a
// 0xRRGGBBAA number as the host's 0xAARRGGBB; null when unreadable.
function processColor(value) {
  const rgba = normalizeColor(value);
  if (rgba == null) return null;
  return ((rgba << 24) | (rgba >>> 8)) >>> 0;
}

function finiteOr(value, fallback) {
  return typeof value === 'number' && Number.isFinite(value) ? value : fallback;
}

// An image source (a uri string, {uri, width, height, scale}, or an array of
// them) as the array of candidates the host picks from. Entries without a
// uri are dropped; sizes are 0 when unknown and the scale defaults to 1.
function processImageSource(source) {
  const list = Array.isArray(source) ? source : [source];
  const out = [];
  for (const item of list) {
    const entry = typeof item === 'string' ? { uri: item } : item;
    if (entry == null || typeof entry !== 'object' || typeof entry.uri !== 'string' || entry.uri === '') continue;
    const scale = finiteOr(entry.scale, 1);
    out.push({
      uri: entry.uri,
      width: finiteOr(entry.width, 0),
      height: finiteOr(entry.height, 0),
      scale: scale > 0 ? scale : 1,
    });
  }
  return out;
}

const colour = { process: processColor };

function table(names, config) {
  const out = {};
  for (const name of names) out[name] = config;
  return out;
}

// Everything a style may hold, for every component (the host ignores what a
// component does not draw).
const styleAttributes = Object.assign(
  table(
    [
      // layout
      'display', 'position', 'direction', 'boxSizing', 'overflow', 'zIndex', 'aspectRatio',
      'width', 'height', 'minWidth', 'maxWidth', 'minHeight', 'maxHeight',
      'flex', 'flexGrow', 'flexShrink', 'flexBasis', 'flexDirection', 'flexWrap',
      'justifyContent', 'alignItems', 'alignSelf', 'alignContent', 'gap', 'rowGap', 'columnGap',
      'top', 'right', 'bottom', 'left', 'start', 'end', 'inset', 'insetBlock', 'insetInline',
      'margin', 'marginTop', 'marginRight', 'marginBottom', 'marginLeft', 'marginStart', 'marginEnd',
      'marginHorizontal', 'marginVertical',
      'padding', 'paddingTop', 'paddingRight', 'paddingBottom', 'paddingLeft', 'paddingStart', 'paddingEnd',
      'paddingHorizontal', 'paddingVertical',
      'borderWidth', 'borderTopWidth', 'borderRightWidth', 'borderBottomWidth', 'borderLeftWidth',
      'borderStartWidth', 'borderEndWidth',
      // drawing
      'opacity', 'transform', 'transformOrigin', 'backfaceVisibility', 'borderStyle', 'cursor', 'pointerEvents',
      'borderRadius', 'borderTopLeftRadius', 'borderTopRightRadius', 'borderBottomRightRadius',
      'borderBottomLeftRadius', 'borderTopStartRadius', 'borderTopEndRadius', 'borderBottomStartRadius',
      'borderBottomEndRadius', 'shadowOffset', 'shadowOpacity', 'shadowRadius', 'elevation',
      // text
      'fontFamily', 'fontSize', 'fontStyle', 'fontWeight', 'fontVariant', 'lineHeight', 'letterSpacing',
      'textAlign', 'textAlignVertical', 'textDecorationLine', 'textDecorationStyle', 'textTransform',
      'textShadowOffset', 'textShadowRadius', 'userSelect', 'verticalAlign', 'writingDirection',
      // images
      'resizeMode', 'objectFit',
    ],
    true
  ),
  table(
    [
      'backgroundColor', 'color', 'tintColor', 'overlayColor', 'shadowColor', 'textShadowColor',
      'textDecorationColor', 'borderColor', 'borderTopColor', 'borderRightColor', 'borderBottomColor',
      'borderLeftColor', 'borderStartColor', 'borderEndColor', 'borderBlockColor',
    ],
    colour
  )
);

// Props every component takes besides its style.
const commonAttributes = Object.assign(
  table(
    [
      'testID', 'nativeID', 'pointerEvents', 'hitSlop', 'collapsable', 'focusable', 'accessible',
      'accessibilityLabel', 'accessibilityHint', 'accessibilityRole', 'role', 'accessibilityState',
      'accessibilityValue', 'importantForAccessibility',
      // Event flags: the host sends layout and pointer events only to views that listen.
      'onLayout', 'onPointerEnter', 'onPointerLeave', 'onPointerMove',
    ],
    true
  ),
  { style: styleAttributes }
);

function bubbling(name) {
  return { phasedRegistrationNames: { bubbled: name, captured: name + 'Capture' } };
}

const commonBubbling = {
  topTouchStart: bubbling('onTouchStart'),
  topTouchMove: bubbling('onTouchMove'),
  topTouchEnd: bubbling('onTouchEnd'),
  topTouchCancel: bubbling('onTouchCancel'),
  topPointerMove: bubbling('onPointerMove'),
  // Enter and leave reach only the view they concern, not its ancestors.
  topPointerEnter: { phasedRegistrationNames: { ...bubbling('onPointerEnter').phasedRegistrationNames, skipBubbling: true } },
  topPointerLeave: { phasedRegistrationNames: { ...bubbling('onPointerLeave').phasedRegistrationNames, skipBubbling: true } },
};

const commonDirect = { topLayout: { registrationName: 'onLayout' } };

const textAttributes = Object.assign(
  {},
  commonAttributes,
  table(['numberOfLines', 'ellipsizeMode', 'selectable', 'allowFontScaling', 'adjustsFontSizeToFit'], true)
);

function viewConfig(name, validAttributes, extraDirect) {
  return {
    uiViewClassName: name,
    validAttributes,
    bubblingEventTypes: commonBubbling,
    directEventTypes: Object.assign({}, commonDirect, extraDirect),
  };
}

// ---- registry ---------------------------------------------------------------------

const customBubblingEventTypes = {};
const customDirectEventTypes = {};
const configs = new Map(); // component name -> view config

// Adds (or replaces) the view config of host component `name`; `config` is
// the config or a function returning it.
function register(name, config) {
  const resolved = typeof config === 'function' ? config() : config;
  if (resolved == null || typeof resolved !== 'object' || typeof resolved.validAttributes !== 'object') {
    throw new TypeError('View config for "' + name + '" must be an object with validAttributes');
  }
  const full = Object.assign({ uiViewClassName: name, bubblingEventTypes: {}, directEventTypes: {} }, resolved);
  Object.assign(customBubblingEventTypes, full.bubblingEventTypes);
  Object.assign(customDirectEventTypes, full.directEventTypes);
  configs.set(name, full);
  return name;
}

function get(name) {
  const config = configs.get(name);
  if (config === undefined) {
    throw new Error('No view config for host component "' + name + '"; register one with registerViewConfig()');
  }
  return config;
}

// Whether the renderer knows event `type` (it refuses unknown ones).
function isKnownEventType(type) {
  return Object.prototype.hasOwnProperty.call(customBubblingEventTypes, type) ||
    Object.prototype.hasOwnProperty.call(customDirectEventTypes, type);
}

register('RCTView', viewConfig('RCTView', commonAttributes));
register('RCTText', viewConfig('RCTText', textAttributes));
register('RCTVirtualText', viewConfig('RCTVirtualText', textAttributes));
register('RCTRawText', { uiViewClassName: 'RCTRawText', validAttributes: { text: true } });
register(
  'RCTImageView',
  viewConfig(
    'RCTImageView',
    Object.assign({}, commonAttributes, {
      source: { process: processImageSource },
      defaultSource: { process: processImageSource },
      resizeMode: true,
      tintColor: colour,
      blurRadius: true,
      fadeDuration: true,
    }),
    { topLoad: { registrationName: 'onLoad' }, topError: { registrationName: 'onError' } }
  )
);

register(
  'RCTScrollView',
  viewConfig(
    'RCTScrollView',
    Object.assign(
      {},
      commonAttributes,
      table(
        [
          'horizontal', 'scrollEnabled', 'scrollEventThrottle', 'showsVerticalScrollIndicator',
          'showsHorizontalScrollIndicator', 'contentOffset', 'maintainVisibleContentPosition',
        ],
        true
      )
    ),
    {
      topScroll: { registrationName: 'onScroll' },
      topMomentumScrollBegin: { registrationName: 'onMomentumScrollBegin' },
      topMomentumScrollEnd: { registrationName: 'onMomentumScrollEnd' },
    }
  )
);
register('RCTScrollContentView', viewConfig('RCTScrollContentView', commonAttributes));

// ---- native components -----------------------------------------------------------

// The view config of a component registered with the host through its view
// component builder, as the host describes it: its props (colours
// converted) and its own events besides the common ones.
function hostViewConfig(name) {
  const describe = globalThis.RN$LegacyInterop_UIManager_getConstantsForViewManager;
  const host = typeof describe === 'function' ? describe(name) : null;
  if (host == null || typeof host !== 'object') {
    throw new Error('Native component "' + name + '" is not registered with the host');
  }
  const validAttributes = Object.assign({}, commonAttributes);
  for (const [prop, type] of Object.entries(host.NativeProps || {})) {
    validAttributes[prop] = /color/i.test(String(type)) ? colour : true;
  }
  return {
    uiViewClassName: name,
    validAttributes,
    bubblingEventTypes: Object.assign({}, commonBubbling, host.bubblingEventTypes),
    directEventTypes: Object.assign({}, commonDirect, host.directEventTypes),
  };
}

// The host component `name` as an element type; throws when the host has
// no such component.
function requireNativeComponent(name) {
  if (!configs.has(name)) register(name, hostViewConfig(name));
  return name;
}

module.exports = {
  requireNativeComponent,
  customBubblingEventTypes,
  customDirectEventTypes,
  register,
  get,
  isKnownEventType,
  processColor,
  processImageSource,
};
