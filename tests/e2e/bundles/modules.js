// The module proxy: lookup, constants, methods.

test('a module is created once and reached both ways', async () => {
  const a = globalThis.__turboModuleProxy('TalvekProbe');
  ok(a !== null && typeof a === 'object', 'module object');
  ok(globalThis.__turboModuleProxy('TalvekProbe') === a, 'same object on the second lookup');
  ok(globalThis.nativeModuleProxy.TalvekProbe === a, 'nativeModuleProxy gives the same object');
});

test('an unknown module is null', async () => {
  eq(globalThis.__turboModuleProxy('NoSuchModule'), null);
  eq(globalThis.nativeModuleProxy.NoSuchModule, null);
  eq(globalThis.__turboModuleProxy(42), null);
  eq(globalThis.__turboModuleProxy(), null);
});

test('constants are properties and getConstants() gives them, fresh each time', async () => {
  eq(probe.answer, 42);
  eq(probe.name, 'probe');
  const c = probe.getConstants();
  eq(c, { answer: 42, name: 'probe' });
  c.answer = 0;
  eq(probe.getConstants().answer, 42);
});

test('methods are functions; promise methods give promises, void methods undefined', async () => {
  eq(typeof probe.ping, 'function');
  eq(typeof probe.recordVoid, 'function');
  eq(probe.recordVoid('hello'), undefined);
  eq(await probe.lastVoid(), 'hello');
});

test('a void method called with bad arguments neither throws nor answers', async () => {
  eq(probe.recordVoid(), undefined);
  eq(await probe.lastVoid(), '');
  eq(probe.recordVoid(5, 6, 7), undefined);
  eq(probe.recordVoid({ toString() { throw new Error('no'); } }), undefined);
  eq(await probe.lastVoid(), '');
});

test('a method can be called detached from its module', async () => {
  const ping = probe.ping;
  eq(await ping(), null);
});

test('native methods behave as functions: bind, call, apply, name', async () => {
  ok(probe.echoString instanceof Function, 'instanceof Function');
  eq(probe.echoString.name, 'echoString');
  eq(probe.getConstants.name, 'getConstants');
  eq(await probe.echoString.bind(probe, 'bound')(), 'bound');
  eq(await probe.echoString.call(null, 'called'), 'called');
  eq(await probe.echoString.apply(null, ['applied']), 'applied');
  eq(probe.getConstants.call(undefined).answer, 42);
});
