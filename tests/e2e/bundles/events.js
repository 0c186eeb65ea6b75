// Events sent from worker threads through RCTDeviceEventEmitter.

test('events from a worker arrive in order, before the promise that followed them', async () => {
  const seen = [];
  const sub = RCTDeviceEventEmitter.addListener('TalvekProbe.tick', (payload) => seen.push(payload.index));
  const count = await probe.emitOnWorker(1000);
  sub.remove();
  eq(count, 1000);
  eq(seen.length, 1000, 'events seen before the resolution');
  for (let i = 0; i < seen.length; i++) if (seen[i] !== i) fail('event ' + i + ' arrived as ' + seen[i]);
});

test('the payload is one object argument', async () => {
  let args = null;
  const sub = RCTDeviceEventEmitter.addListener('TalvekProbe.tick', (...a) => (args = a));
  await probe.emitOnWorker(1);
  sub.remove();
  eq(args, [{ index: 0 }]);
});

test('remove() stops delivery and listenerCount follows', async () => {
  let calls = 0;
  const a = RCTDeviceEventEmitter.addListener('TalvekProbe.tick', () => calls++);
  const b = RCTDeviceEventEmitter.addListener('TalvekProbe.tick', () => calls++);
  eq(RCTDeviceEventEmitter.listenerCount('TalvekProbe.tick'), 2);
  a.remove();
  a.remove();
  eq(RCTDeviceEventEmitter.listenerCount('TalvekProbe.tick'), 1);
  await probe.emitOnWorker(3);
  eq(calls, 3);
  b.remove();
  eq(RCTDeviceEventEmitter.listenerCount('TalvekProbe.tick'), 0);
  await probe.emitOnWorker(3);
  eq(calls, 3);
});

test('removeAllListeners by name and for all names', async () => {
  let calls = 0;
  RCTDeviceEventEmitter.addListener('x', () => calls++);
  RCTDeviceEventEmitter.addListener('y', () => calls++);
  RCTDeviceEventEmitter.removeAllListeners('x');
  eq(RCTDeviceEventEmitter.listenerCount('x'), 0);
  eq(RCTDeviceEventEmitter.listenerCount('y'), 1);
  RCTDeviceEventEmitter.removeAllListeners();
  eq(RCTDeviceEventEmitter.listenerCount('y'), 0);
  RCTDeviceEventEmitter.emit('y', {});
  eq(calls, 0);
});

test('emit passes the payload to every listener, with its context', async () => {
  const got = [];
  const context = { tag: 'ctx' };
  const a = RCTDeviceEventEmitter.addListener('z', function (p) {
    got.push([this.tag, p.v]);
  }, context);
  const b = RCTDeviceEventEmitter.addListener('z', (p) => got.push(['arrow', p.v]));
  RCTDeviceEventEmitter.emit('z', { v: 1 });
  a.remove();
  b.remove();
  eq(got, [['ctx', 1], ['arrow', 1]]);
});
