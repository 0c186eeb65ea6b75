// The host's globals: timers, microtasks, console, AppRegistry.

let started = null;
AppRegistry.registerComponent('VirelantDesktop', () => (props) => {
  started = props;
});

test('the registered root component was started with rootTag 1', async () => {
  eq(started, { rootTag: 1 });
  eq(AppRegistry.getAppKeys(), ['VirelantDesktop']);
});

test('timers fire by due time and pass their arguments', async () => {
  const order = [];
  setTimeout((tag) => order.push(tag), 30, 'late');
  setTimeout((tag, n) => order.push(tag + n), 5, 'early', 1);
  await sleep(60);
  eq(order, ['early1', 'late']);
});

test('clearTimeout cancels, also from another timer and twice', async () => {
  let fired = false;
  const id = setTimeout(() => (fired = true), 10);
  setTimeout(() => clearTimeout(id), 0);
  await sleep(40);
  clearTimeout(id);
  clearTimeout(123456);
  clearTimeout('nonsense');
  eq(fired, false);
});

test('setInterval repeats until cleared, also from inside itself', async () => {
  let count = 0;
  const id = setInterval(() => {
    count++;
    if (count === 3) clearInterval(id);
  }, 2);
  await sleep(60);
  eq(count, 3);
});

test('queueMicrotask runs in order with promise reactions, before timers', async () => {
  const order = [];
  setTimeout(() => order.push('timer'), 0);
  Promise.resolve().then(() => order.push('then1'));
  queueMicrotask(() => order.push('micro'));
  Promise.resolve().then(() => order.push('then2'));
  await sleep(20);
  eq(order, ['then1', 'micro', 'then2', 'timer']);
});

test('timer and microtask functions check their callback', async () => {
  for (const f of [setTimeout, setInterval, queueMicrotask]) {
    let threw = null;
    try {
      f('not a function', 1);
    } catch (e) {
      threw = e;
    }
    ok(threw instanceof TypeError, f.name + ' throws TypeError');
  }
});

test('timer ids are distinct numbers', async () => {
  const a = setTimeout(() => {}, 1);
  const b = setTimeout(() => {}, 1);
  ok(typeof a === 'number' && a !== b, 'distinct');
  clearTimeout(a);
  clearTimeout(b);
});

test('console has the five methods', async () => {
  for (const name of ['log', 'info', 'debug', 'warn', 'error']) eq(typeof console[name], 'function', name);
});
