// A small self-checking harness joined in front of every e2e bundle.
// test(name, fn) registers a check; after the bundle ran, the checks run in
// order, each line says "ok - name" or "not ok - name: why", the last line
// is "N passed, N failed", and the runner exits 1 when anything failed.
'use strict';
const __checks = [];
function test(name, fn) {
  __checks.push({ name, fn });
}
function fail(message) {
  throw new Error(message);
}
function show(value) {
  if (typeof value === 'number') return Object.is(value, -0) ? '-0' : String(value);
  if (typeof value === 'undefined') return 'undefined';
  try {
    return JSON.stringify(value);
  } catch (e) {
    return String(value);
  }
}
// Deep equality in which NaN equals NaN, -0 differs from 0, and object key
// order counts (the bridge promises sorted keys).
function same(a, b) {
  if (typeof a === 'number' && typeof b === 'number') return Object.is(a, b);
  if (a === null || b === null || typeof a !== 'object' || typeof b !== 'object') return a === b;
  if (Array.isArray(a) !== Array.isArray(b)) return false;
  const ka = Object.keys(a);
  const kb = Object.keys(b);
  if (ka.length !== kb.length) return false;
  for (let i = 0; i < ka.length; i++) {
    if (ka[i] !== kb[i] || !same(a[ka[i]], b[kb[i]])) return false;
  }
  return true;
}
function eq(actual, expected, what) {
  if (!same(actual, expected)) fail((what ? what + ': ' : '') + 'got ' + show(actual) + ', expected ' + show(expected));
}
function ok(condition, what) {
  if (!condition) fail(what || 'condition failed');
}
async function rejection(promise, what) {
  try {
    const value = await promise;
    fail((what ? what + ': ' : '') + 'resolved with ' + show(value) + ' instead of rejecting');
  } catch (e) {
    return e;
  }
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const probe = globalThis.__turboModuleProxy('TalvekProbe');

setTimeout(async () => {
  let passed = 0;
  let failed = 0;
  for (const check of __checks) {
    try {
      await check.fn();
      console.log('ok - ' + check.name);
      passed++;
    } catch (e) {
      console.log('not ok - ' + check.name + ': ' + (e && e.message ? e.message : show(e)));
      failed++;
    }
  }
  console.log(passed + ' passed, ' + failed + ' failed');
  __talvekRun.exit(failed > 0 ? 1 : 0);
}, 0);
