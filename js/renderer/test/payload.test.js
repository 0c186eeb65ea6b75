// Prop payloads and view-config value processing, checked directly (plain
// node, no bundling): what the host receives for a new node and for an
// update. Exits non-zero and names the failed checks on failure.
'use strict';

const assert = require('assert');
const { createAttributePayload, diffAttributePayloads, deepDiffer, flattenStyle } = require('../attribute_payload');
const { get, processColor, processImageSource, register, isKnownEventType } = require('../view_configs');

const view = get('RCTView').validAttributes;
const image = get('RCTImageView').validAttributes;

const checks = [];
function check(name, fn) {
  checks.push({ name, fn });
}

check('styles flatten through nested arrays and holes, later entries win, style beats a plain prop', () => {
  const payload = createAttributePayload(
    {
      testID: 't',
      pointerEvents: 'none',
      style: [{ padding: 2, margin: 1 }, [null, false, undefined, [{ padding: 6 }]], { pointerEvents: 'box-none' }],
    },
    view
  );
  assert.deepStrictEqual(payload, { testID: 't', padding: 6, margin: 1, pointerEvents: 'box-none' });
  assert.deepStrictEqual(flattenStyle([{ a: 1 }, [{ b: 2 }, null], { a: 3 }]), { a: 3, b: 2 });
  assert.strictEqual(flattenStyle(null), undefined);
});

check('unknown props are dropped, handlers become flags only where declared, null means unset', () => {
  const payload = createAttributePayload(
    { onLayout() {}, onPress() {}, made_up: 1, nativeID: null, style: { opacity: undefined, zIndex: 0 } },
    view
  );
  assert.deepStrictEqual(payload, { onLayout: true, zIndex: 0 });
  // Inherited names are not attributes, whatever the props hold.
  const hostile = { toString: 'x', constructor: 1, style: JSON.parse('{"__proto__": {"polluted": 1}, "opacity": 0.5}') };
  assert.deepStrictEqual(createAttributePayload(hostile, view), { opacity: 0.5 });
  assert.deepStrictEqual(diffAttributePayloads({}, hostile, view), { opacity: 0.5 });
  assert.strictEqual({}.polluted, undefined);
});

check('colours: names, hex, rgba, numbers; unreadable ones are left out', () => {
  assert.strictEqual(processColor('red'), 0xffff0000);
  assert.strictEqual(processColor('#0f08'), 0x8800ff00);
  assert.strictEqual(processColor('#336699'), 0xff336699);
  assert.strictEqual(processColor('rgba(255, 0, 0, 0)'), 0x00ff0000);
  assert.strictEqual(processColor(0x11223344), 0x44112233);
  assert.strictEqual(processColor('transparent'), 0);
  assert.strictEqual(processColor('not a colour'), null);
  assert.strictEqual(processColor(-1), null);
  assert.strictEqual(processColor({}), null);
  assert.deepStrictEqual(createAttributePayload({ style: { color: 'nope', borderColor: 'blue' } }, view), {
    borderColor: 0xff0000ff,
  });
});

check('image sources become a list of candidates; entries without a uri are dropped', () => {
  assert.deepStrictEqual(processImageSource('file:///a.png'), [{ uri: 'file:///a.png', width: 0, height: 0, scale: 1 }]);
  assert.deepStrictEqual(
    processImageSource([{ uri: 'a', width: 4, height: 2, scale: 2 }, null, { uri: '' }, { width: 3 }, { uri: 'b', scale: -1, width: NaN }]),
    [
      { uri: 'a', width: 4, height: 2, scale: 2 },
      { uri: 'b', width: 0, height: 0, scale: 1 },
    ]
  );
  assert.deepStrictEqual(processImageSource(undefined), []);
  assert.deepStrictEqual(createAttributePayload({ source: { uri: 'x', width: 1, height: 1 } }, image).source, [
    { uri: 'x', width: 1, height: 1, scale: 1 },
  ]);
});

check('updates carry changed keys only, removed keys as null, and nothing when only identities changed', () => {
  const prev = { testID: 'a', onLayout() {}, style: [{ backgroundColor: 'red', padding: 4 }, { transform: [{ scale: 2 }] }] };
  const same = { testID: 'a', onLayout() {}, style: { backgroundColor: '#f00', padding: 4, transform: [{ scale: 2 }] } };
  assert.strictEqual(diffAttributePayloads(prev, same, view), null);
  const next = { testID: 'a', style: { backgroundColor: 'blue', padding: 4, transform: [{ scale: 3 }] } };
  assert.deepStrictEqual(diffAttributePayloads(prev, next, view), {
    backgroundColor: 0xff0000ff,
    transform: [{ scale: 3 }],
    onLayout: null,
  });
  assert.deepStrictEqual(diffAttributePayloads({ style: { opacity: 1 } }, { style: null }, view), { opacity: null });
  assert.deepStrictEqual(diffAttributePayloads({ style: { color: 'red' } }, { style: { color: 'bogus' } }, view), {
    color: null,
  });
  assert.deepStrictEqual(diffAttributePayloads({}, { style: { margin: 0 } }, view), { margin: 0 });
});

check('comparisons terminate on cyclic values and treat NaN as equal to itself', () => {
  const a = { x: 1 };
  a.self = a;
  const b = { x: 1 };
  b.self = b;
  assert.strictEqual(typeof deepDiffer(a, b), 'boolean');
  assert.strictEqual(deepDiffer(NaN, NaN), false);
  assert.strictEqual(deepDiffer([1, { y: [2] }], [1, { y: [2] }]), false);
  assert.strictEqual(deepDiffer({ y: 1 }, { y: 1, z: 2 }), true);
  assert.strictEqual(deepDiffer(() => 1, () => 1), true);
  assert.strictEqual(deepDiffer(() => 1, () => 1, { unsafelyIgnoreFunctions: true }), false);
  const p = { hitSlop: a };
  assert.strictEqual(typeof diffAttributePayloads(p, { hitSlop: b }, view), 'object');
});

check('the registry refuses unknown components and malformed configs, and learns events of new ones', () => {
  assert.throws(() => get('NoSuchComponent'), /No view config for host component "NoSuchComponent"/);
  assert.throws(() => register('Bad', {}), TypeError);
  assert.strictEqual(isKnownEventType('topValueChange'), false);
  register('TestSlider', () => ({
    validAttributes: { value: true },
    directEventTypes: { topValueChange: { registrationName: 'onValueChange' } },
  }));
  assert.strictEqual(get('TestSlider').uiViewClassName, 'TestSlider');
  assert.strictEqual(isKnownEventType('topValueChange'), true);
});

let failed = 0;
for (const { name, fn } of checks) {
  try {
    fn();
    console.log('ok   ' + name);
  } catch (e) {
    failed++;
    console.log('FAIL ' + name + '\n' + (e && e.stack ? e.stack : String(e)));
  }
}
console.log(failed === 0 ? 'all ' + checks.length + ' checks passed' : failed + ' check(s) failed');
process.exitCode = failed === 0 ? 0 : 1;
