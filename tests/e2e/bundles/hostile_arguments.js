// Arguments whose reading runs JavaScript that throws: revoked proxies, proxy
// traps and getters that throw, at the top and nested. Each converts by the
// value reader's rule, and every promise method still returns a promise that
// the module settles with its own code.

const boom = () => {
  throw new Error('trap');
};
const revoked = (target) => {
  const r = Proxy.revocable(target, {});
  r.revoke();
  return r.proxy;
};
// [name, value, what the "any" type makes of it]; none holds a readable
// "uid", so none is a cache scope.
const hostile = () => [
  ['a revoked Proxy', revoked({ uid: 'u' }), {}],
  ['a revoked array Proxy', revoked(['a']), {}],
  ['an ownKeys trap', new Proxy({ uid: 'u' }, { ownKeys: boom }), {}],
  ['a getOwnPropertyDescriptor trap', new Proxy({ uid: 'u' }, { getOwnPropertyDescriptor: boom }), {}],
  ['a get trap', new Proxy({ uid: 'u' }, { get: boom }), {}],
  ['a has trap', new Proxy({ x: 1 }, { has: boom }), { x: 1 }],
  ['a getter', Object.defineProperty({ x: 1 }, 'uid', { enumerable: true, get: boom }), { x: 1 }],
  ['nested ones', { scope: revoked({}), headers: new Proxy({}, { ownKeys: boom }), list: [revoked([]), 1] },
    { headers: {}, list: [{}, 1], scope: {} }],
];

const media = globalThis.__turboModuleProxy('Media');
const auth = globalThis.__turboModuleProxy('AuthLoopback');
const url = 'https://app.talvek.chat/files/a.png';

// The call must return a promise (not throw) that rejects with `code`.
async function rejectsWith(call, code, what) {
  let promise;
  try {
    promise = call();
  } catch (e) {
    fail(what + ': threw ' + (e && e.message));
  }
  ok(promise instanceof Promise, what + ': no promise');
  const error = await rejection(promise, what);
  eq(error.code, code, what);
}

test('every argument type converts by the rule', async () => {
  for (const [name, value, asAny] of hostile()) {
    eq(await probe.echoAny(value), asAny, 'any: ' + name);
    eq(await probe.echoAny([value]), [asAny], 'any, in an array: ' + name);
    eq(await probe.echoString(value), '', 'string: ' + name);
    eq(await probe.echoNumber(value), NaN, 'number: ' + name);
    eq(await probe.echoInt64(value), 0, '64-bit integer: ' + name);
    eq(await probe.echoBool(value), false, 'boolean: ' + name);
    eq(await probe.echoStrings(value), [], 'array of strings: ' + name);
    eq(await probe.echoStrings(['x', value]), ['x', ''], 'in an array of strings: ' + name);
  }
});

test('Media methods answer with invalid_request', async () => {
  for (const [name, value] of hostile()) {
    await rejectsWith(() => media.fetchToCache(value), 'invalid_request', 'fetchToCache(' + name + ')');
    await rejectsWith(() => media.fetchToCache({ requestId: 'r', scope: value, url }), 'invalid_request',
      'fetchToCache with ' + name + ' as scope');
    await rejectsWith(() => media.peek(value, url), 'invalid_request', 'peek(' + name + ')');
    await rejectsWith(() => media.peek({ uid: 'u', ws: 'w', thread: 't' }, value), 'invalid_request',
      'peek with ' + name + ' as url');
    await rejectsWith(() => media.remove(value, url), 'invalid_request', 'remove(' + name + ')');
    await rejectsWith(() => media.removeThread(value), 'invalid_request', 'removeThread(' + name + ')');
    await rejectsWith(() => media.clear(value), 'invalid_request', 'clear(' + name + ')');
  }
});

test('AuthLoopback.start answers with invalid_request', async () => {
  for (const [name, value] of hostile()) {
    await rejectsWith(() => auth.start(value), 'invalid_request', 'start(' + name + ')');
  }
  const hidden = new Proxy({ provider: 'google' }, { getOwnPropertyDescriptor: boom });
  await rejectsWith(() => auth.start(hidden), 'invalid_request', 'a provider behind a throwing trap');
});

test('Share.share answers with invalid_request, and without a desktop with share_unavailable', async () => {
  const share = globalThis.__turboModuleProxy('Share');
  const anchor = { x: 0, y: 0, width: 10, height: 10 };
  for (const [name, value] of hostile()) {
    await rejectsWith(() => share.share(value), 'invalid_request', 'share(' + name + ')');
    await rejectsWith(() => share.share({ text: 'hi', anchor: value }), 'invalid_request', 'an anchor that is ' + name);
  }
  const hiddenText = Object.defineProperty({ anchor }, 'text', { enumerable: true, get: boom });
  await rejectsWith(() => share.share(hiddenText), 'invalid_request', 'a text behind a throwing getter');
  await rejectsWith(() => share.share({ text: 'hi', anchor }), 'share_unavailable', 'a sound request, headless');
  await rejectsWith(() => share.share({ filePath: '/etc/passwd', anchor }), 'path_denied', 'a file outside the copies');
});

test('calls made from inside a throwing trap still answer', async () => {
  let inner;
  let innerError;
  const sneaky = new Proxy({}, {
    ownKeys() {
      inner = media.removeThread(revoked({}));
      innerError = rejection(inner, 'the inner call');
      throw new Error('trap');
    },
  });
  await rejectsWith(() => media.clear(sneaky), 'invalid_request', 'the outer call');
  ok(inner instanceof Promise, 'the inner call returned a promise');
  eq((await innerError).code, 'invalid_request');
});
