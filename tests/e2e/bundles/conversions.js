// The value reader's rule, through the real engine: each argument becomes
// the declared type, and the module sees the converted value.

const table = [
  // [method, args, expected]
  ['echoString', ['abc'], 'abc'],
  ['echoString', [''], ''],
  ['echoString', ['\u00fc\u20ac\ud83d\ude00'], '\u00fc\u20ac\ud83d\ude00'],
  ['echoString', ['a\u0000b'], 'a\u0000b'],
  ['echoString', ['\ud800x'], '\ufffdx'],
  ['echoString', [5], ''],
  ['echoString', [null], ''],
  ['echoString', [undefined], ''],
  ['echoString', [{}], ''],
  ['echoString', [['a']], ''],
  ['echoString', [], ''],
  ['echoNumber', [1.5], 1.5],
  ['echoNumber', [-0], -0],
  ['echoNumber', [Infinity], Infinity],
  ['echoNumber', ['5'], NaN],
  ['echoNumber', [true], NaN],
  ['echoNumber', [null], NaN],
  ['echoNumber', [], NaN],
  ['echoInt64', [3.9], 3],
  ['echoInt64', [-3.9], -3],
  ['echoInt64', [2 ** 53], 2 ** 53],
  ['echoInt64', [-(2 ** 63)], -(2 ** 63)],
  ['echoInt64', [2 ** 63], 0],
  ['echoInt64', [1e300], 0],
  ['echoInt64', [NaN], 0],
  ['echoInt64', [-Infinity], 0],
  ['echoInt64', ['7'], 0],
  ['echoInt64', [], 0],
  ['echoBool', [true], true],
  ['echoBool', [false], false],
  ['echoBool', [1], false],
  ['echoBool', ['true'], false],
  ['echoBool', [], false],
  ['echoStrings', [['a', 1, null, 'b', undefined, {}]], ['a', '', '', 'b', '', '']],
  ['echoStrings', [[]], []],
  ['echoStrings', ['abc'], []],
  ['echoStrings', [{ length: 2, 0: 'a' }], []],
  ['echoStrings', [], []],
  ['echoAny', [], null],
  ['echoAny', [undefined], null],
  ['echoAny', [null], null],
  ['echoAny', [7], 7],
  ['echoAny', [1.25], 1.25],
  ['echoAny', ['s'], 's'],
  ['echoAny', [{ b: 1, a: [2, 'x', false, null] }], { a: [2, 'x', false, null], b: 1 }],
  ['echoAny', [{ f() {}, u: undefined, s: Symbol('q'), x: 1 }], { x: 1 }],
  ['echoAny', [[undefined, function () {}, Symbol('q')]], [null, null, null]],
  ['echoAny', [function () {}], null],
  ['echoAny', [Symbol('q')], null],
  ['echoPair', ['a', 2, 'extra', 'more'], ['a', 2]],
  ['echoPair', [], ['', NaN]],
];

test('every argument type converts by the rule', async () => {
  for (const [method, args, expected] of table) {
    eq(await probe[method](...args), expected, method + '(' + args.map(show).join(', ') + ')');
  }
});

test('the "any" type keeps integers integral and sorts object keys', async () => {
  const out = await probe.echoAny({ z: 1, a: 2, m: { y: 1, b: 2 } });
  eq(Object.keys(out), ['a', 'm', 'z']);
  eq(Object.keys(out.m), ['b', 'y']);
  eq(await probe.echoAny(2 ** 53 + 2), 2 ** 53 + 2);
  eq(await probe.echoAny(-5), -5);
});

test('a cyclic object converts, the cycle as null', async () => {
  const o = { a: 1 };
  o.self = o;
  o.list = [o];
  eq(await probe.echoAny(o), { a: 1, list: [null], self: null });
});

test('a getter that throws leaves its member out', async () => {
  const o = { x: 1 };
  Object.defineProperty(o, 'bad', { enumerable: true, get() { throw new Error('nope'); } });
  eq(await probe.echoAny(o), { x: 1 });
});

test('very deep nesting converts without a crash', async () => {
  let deep = 'leaf';
  for (let i = 0; i < 500; i++) deep = [deep];
  const out = await probe.echoAny(deep);
  let depth = 0;
  let node = out;
  while (Array.isArray(node)) {
    node = node[0];
    depth++;
  }
  ok(depth > 0 && depth <= 500, 'depth ' + depth);
  eq(node, null, 'nesting past the limit becomes null');
});

test('a huge sparse array does not hang the bridge', async () => {
  const sparse = [];
  sparse.length = 2 ** 32 - 1;
  eq(await probe.echoAny(sparse), null);
  eq(await probe.echoStrings([1, 2]), ['', '']);
  const out = await probe.echoStrings(sparse);
  ok(Array.isArray(out), 'string array');
});

test('a long string round-trips', async () => {
  const s = 'x\u00e9\ud83d\ude00'.repeat(100000);
  eq((await probe.echoString(s)) === s, true);
});
