// Promises settled on the JS thread, on workers and on the UI thread.

test('resolves on the JS thread', async () => {
  eq(await probe.ping(), null);
});

test('resolves from a worker thread with the value given', async () => {
  eq(await probe.resolveOnWorker({ n: 1, list: [true, 'x'] }, 0), { list: [true, 'x'], n: 1 });
});

test('many worker promises settle, each with its own value', async () => {
  const calls = [];
  for (let i = 0; i < 200; i++) calls.push(probe.resolveOnWorker(i, i % 7));
  const values = await Promise.all(calls);
  eq(values, Array.from({ length: 200 }, (_, i) => i));
});

test('a rejection from a worker is an Error with code, message, userInfo in that order', async () => {
  const e = await rejection(probe.rejectOnWorker('not_found', 'File is gone'));
  ok(e instanceof Error, 'is an Error');
  eq(Object.keys(e), ['code', 'message', 'userInfo']);
  eq(e.code, 'not_found');
  eq(e.message, 'File is gone');
  eq(e.userInfo, {});
});

test('an empty code and message become the defaults', async () => {
  const e = await rejection(probe.rejectEmpty());
  eq(e.code, 'EUNSPECIFIED');
  eq(e.message, 'Error not specified.');
  eq(e.userInfo, {});
});

test('resolving then rejecting delivers only the resolution', async () => {
  eq(await probe.settleTwice(), 'first');
});

test('a worker that ends without settling rejects as destroyed', async () => {
  const e = await rejection(probe.dropOnWorker());
  eq(Object.keys(e), ['code', 'message', 'userInfo']);
  eq(e.code, 'EUNSPECIFIED');
  eq(e.message, 'Promise destroyed.');
  eq(e.userInfo, null);
});

test('work posted to the UI dispatcher settles', async () => {
  eq(await probe.resolveOnUI(), 'ui');
});

test('promise methods return real promises', async () => {
  const p = probe.ping();
  ok(p instanceof Promise, 'instanceof Promise');
  await p;
});
