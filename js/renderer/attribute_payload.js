// Prop payloads for the host's shadow nodes.
//
// The host takes flat props: the `style` prop (an object, or nested arrays of
// objects with falsy holes) is flattened into top-level keys, only attributes
// the view config lists are kept, each attribute's `process` converts its
// value (colours become 0xAARRGGBB numbers), and a function (an event
// handler) is sent as `true` so the host knows someone listens.
//
// A view config's `validAttributes` maps a prop name to `true` (send as is),
// to `{process?, diff?}` (convert / compare specially), or, for `style`, to a
// nested table of the same kind whose keys end up at the top level.
'use strict';

// Deeper than this, two values are taken to differ (and are resent) rather
// than risk unbounded recursion on cyclic props.
const MAX_COMPARE_DEPTH = 32;

// Merges a style (object, or arbitrarily nested arrays of them; null, false
// and other non-objects are skipped) into one object. Later entries win.
function flattenStyle(style) {
  if (style == null || typeof style !== 'object') return undefined;
  if (!Array.isArray(style)) return style;
  const out = {};
  for (const item of style) {
    const flat = flattenStyle(item);
    if (flat !== undefined) Object.assign(out, flat);
  }
  return out;
}

// True when `one` and `two` differ structurally. `options` is a depth limit
// (a number) or `{unsafelyIgnoreFunctions: true}` to treat any two functions
// as equal.
function deepDiffer(one, two, options) {
  const depth = typeof options === 'number' ? options : MAX_COMPARE_DEPTH;
  const ignoreFunctions = options != null && typeof options === 'object' && options.unsafelyIgnoreFunctions === true;
  return differs(one, two, depth, ignoreFunctions);
}

function differs(one, two, depth, ignoreFunctions) {
  if (one === two) return false;
  if (typeof one === 'function' && typeof two === 'function') return !ignoreFunctions;
  if (typeof one !== 'object' || typeof two !== 'object' || one === null || two === null) {
    return !(Number.isNaN(one) && Number.isNaN(two));
  }
  if (depth <= 0) return true;
  if (Array.isArray(one) !== Array.isArray(two)) return true;
  if (Array.isArray(one)) {
    if (one.length !== two.length) return true;
    for (let i = 0; i < one.length; i++) {
      if (differs(one[i], two[i], depth - 1, ignoreFunctions)) return true;
    }
    return false;
  }
  for (const key in one) {
    if (differs(one[key], two[key], depth - 1, ignoreFunctions)) return true;
  }
  for (const key in two) {
    if (one[key] === undefined && two[key] !== undefined) return true;
  }
  return false;
}

// An attribute table nested under a prop (as for `style`), rather than the
// configuration of a single attribute.
function isNestedTable(config) {
  return typeof config === 'object' && typeof config.process !== 'function' && typeof config.diff !== 'function';
}

// The config of `key` in `table`; inherited names (toString, __proto__) are
// never attributes.
function own(table, key) {
  return Object.prototype.hasOwnProperty.call(table, key) ? table[key] : undefined;
}

function setRaw(out, key, value) {
  if (value === undefined || value === null) delete out[key];
  else out[key] = typeof value === 'function' ? true : value;
}

// The valid props of `props` as one flat map of raw (unprocessed) values:
// plain props first, then the nested tables (style), which win on a clash.
function flatProps(props, validAttributes) {
  const out = Object.create(null);
  if (props == null) return out;
  for (const key in props) {
    const config = own(validAttributes, key);
    if (config && !isNestedTable(config)) setRaw(out, key, props[key]);
  }
  for (const key in props) {
    const table = own(validAttributes, key);
    if (!table || !isNestedTable(table)) continue;
    const flat = flattenStyle(props[key]);
    if (flat === undefined) continue;
    for (const inner in flat) {
      const config = own(table, inner);
      if (config && !isNestedTable(config)) setRaw(out, inner, flat[inner]);
    }
  }
  return out;
}

// The config of each top-level payload key (whether it comes from the props
// or from a nested table), worked out once per attribute table.
const configCache = new WeakMap(); // validAttributes -> Map(key -> config)

function configOf(key, validAttributes) {
  let configs = configCache.get(validAttributes);
  if (configs === undefined) {
    configs = new Map();
    for (const name in validAttributes) {
      const table = validAttributes[name];
      if (!table || !isNestedTable(table)) continue;
      for (const inner in table) {
        if (table[inner] && !isNestedTable(table[inner])) configs.set(inner, table[inner]);
      }
    }
    for (const name in validAttributes) {
      const config = validAttributes[name];
      if (config && !isNestedTable(config)) configs.set(name, config);
    }
    configCache.set(validAttributes, configs);
  }
  const config = configs.get(key);
  return config === undefined ? true : config;
}

function processed(config, raw) {
  if (typeof config === 'object' && typeof config.process === 'function' && raw !== true) {
    const value = config.process(raw);
    return value === undefined ? null : value;
  }
  return raw;
}

// The payload for a new node: every valid prop, processed. Values that
// process to nothing (an unreadable colour) are left out.
function createAttributePayload(props, validAttributes) {
  const flat = flatProps(props, validAttributes);
  const payload = {};
  for (const key in flat) {
    const value = processed(configOf(key, validAttributes), flat[key]);
    if (value !== null) payload[key] = value;
  }
  return payload;
}

// The change from `prevProps` to `nextProps`: changed keys with their new
// processed values and removed keys as null; null when nothing changed.
// Values are compared after processing ('red' and '#f00' are the same).
function diffAttributePayloads(prevProps, nextProps, validAttributes) {
  const prev = flatProps(prevProps, validAttributes);
  const next = flatProps(nextProps, validAttributes);
  let payload = null;
  for (const key in next) {
    const config = configOf(key, validAttributes);
    const value = processed(config, next[key]);
    let changed;
    if (!(key in prev)) changed = true;
    else if (typeof config === 'object' && typeof config.diff === 'function') changed = config.diff(prev[key], next[key]);
    else changed = differs(processed(config, prev[key]), value, MAX_COMPARE_DEPTH, true);
    if (!changed) continue;
    if (payload === null) payload = {};
    payload[key] = value;
  }
  for (const key in prev) {
    if (key in next) continue;
    if (payload === null) payload = {};
    payload[key] = null;
  }
  return payload;
}

module.exports = { flattenStyle, deepDiffer, createAttributePayload, diffAttributePayloads };
