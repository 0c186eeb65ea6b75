// The bridge under garbage-collector pressure: values built for JavaScript
// while the collector runs must survive, and nothing may be freed early.

function makeValue(seed) {
  const items = [];
  for (let i = 0; i < 50; i++) items.push({ id: seed * 100 + i, name: 'item-' + i, tags: ['a', 'b', String(seed)] });
  return { seed, items, nested: { deeper: { list: items.slice(0, 5) } } };
}

function churn() {
  let keep = 0;
  for (let i = 0; i < 2000; i++) keep += ('garbage' + i).repeat(8).length + [i, i + 1, { i }].length;
  return keep;
}

test('echoed values stay intact while garbage piles up', async () => {
  for (let round = 0; round < 8; round++) {
    const calls = [];
    for (let i = 0; i < 25; i++) {
      const seed = round * 25 + i;
      calls.push(probe.resolveOnWorker(makeValue(seed), i % 3).then((v) => [seed, v]));
      churn();
    }
    for (const [seed, value] of await Promise.all(calls)) {
      const expected = makeValue(seed);
      eq(value.seed, seed);
      eq(value.items.length, 50);
      eq(value.items[49], { id: seed * 100 + 49, name: 'item-49', tags: ['a', 'b', String(seed)] });
      eq(value.nested.deeper.list[4].id, expected.items[4].id);
    }
  }
});

test('events keep flowing while the collector runs', async () => {
  let count = 0;
  let last = -1;
  let ordered = true;
  const sub = RCTDeviceEventEmitter.addListener('TalvekProbe.tick', (p) => {
    if (p.index !== last + 1) ordered = false;
    last = p.index;
    count++;
    if (count % 500 === 0) churn();
  });
  await probe.emitOnWorker(5000);
  sub.remove();
  eq(count, 5000);
  ok(ordered, 'in order');
});

test('rejections and destroyed promises under pressure', async () => {
  const outcomes = await Promise.all(
    Array.from({ length: 200 }, (_, i) =>
      (i % 2 ? probe.rejectOnWorker('code_' + i, 'message ' + i) : probe.dropOnWorker()).catch((e) => {
        churn();
        return e.code + '|' + e.message;
      })
    )
  );
  for (let i = 0; i < 200; i++) eq(outcomes[i], i % 2 ? 'code_' + i + '|message ' + i : 'EUNSPECIFIED|Promise destroyed.');
});
