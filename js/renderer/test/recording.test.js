// Builds test/recording_app.jsx with build.js, runs the bundle in a fresh
// context whose nativeFabricUIManager records every call, and checks what
// the host is told: the nodes created (names, flattened and processed
// props), the committed trees, and the updates that touches cause. Run with
// plain node; exits non-zero and names the failed checks on failure.
'use strict';

const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const vm = require('vm');
const { build } = require('../build');

// ---- a host that records ------------------------------------------------------------

function createHost() {
  const calls = []; // every UI manager call, in order
  const handles = new Map(); // tag -> instance handle given at createNode
  const committed = new Map(); // root tag -> child set of the last completeRoot
  const errors = []; // exceptions that reached the host
  const logs = []; // console.error / warn output of the bundle
  const timers = []; // {id, due, fn, args}
  const microtasks = [];
  let eventHandler = null;
  let nextTimer = 1;
  let priority = 0;

  const node = (tag, viewName, rootTag, props, children) => ({ tag, viewName, rootTag, props, children, sealed: false });
  const merged = (props, diff) => {
    const out = Object.assign({}, props);
    for (const key of Object.keys(diff || {})) {
      if (diff[key] === null) delete out[key];
      else out[key] = diff[key];
    }
    return out;
  };
  const seal = (n) => {
    n.sealed = true;
    n.children.forEach(seal);
  };
  const copy = (value) => JSON.parse(JSON.stringify(value));

  const ui = {
    unstable_DefaultEventPriority: 0,
    unstable_DiscreteEventPriority: 1,
    unstable_ContinuousEventPriority: 2,
    unstable_IdleEventPriority: 3,
    unstable_getCurrentEventPriority: () => priority,
    createNode(tag, viewName, rootTag, props, handle) {
      calls.push({ op: 'createNode', tag, viewName, rootTag, props: copy(props) });
      handles.set(tag, handle);
      return node(tag, viewName, rootTag, copy(props), []);
    },
    cloneNodeWithNewChildren(n) {
      calls.push({ op: 'cloneNodeWithNewChildren', tag: n.tag });
      return node(n.tag, n.viewName, n.rootTag, n.props, []);
    },
    cloneNodeWithNewProps(n, diff) {
      calls.push({ op: 'cloneNodeWithNewProps', tag: n.tag, diff: copy(diff) });
      return node(n.tag, n.viewName, n.rootTag, merged(n.props, diff), n.children.slice());
    },
    cloneNodeWithNewChildrenAndProps(n, diff) {
      calls.push({ op: 'cloneNodeWithNewChildrenAndProps', tag: n.tag, diff: copy(diff) });
      return node(n.tag, n.viewName, n.rootTag, merged(n.props, diff), []);
    },
    createChildSet: () => [],
    appendChild(parent, child) {
      if (parent.sealed) throw new Error('appendChild on committed node ' + parent.tag);
      parent.children.push(child);
    },
    appendChildToSet(set, child) {
      set.push(child);
    },
    completeRoot(rootTag, set) {
      calls.push({ op: 'completeRoot', rootTag, tree: set.map(describe) });
      set.forEach(seal);
      committed.set(rootTag, set);
    },
    registerEventHandler(fn) {
      eventHandler = fn;
    },
    measure() {},
    measureInWindow() {},
    measureLayout() {},
    getBoundingClientRect: () => [0, 0, 0, 0],
    findNodeAtPoint() {},
    dispatchCommand() {},
    setIsJSResponder() {},
    sendAccessibilityEvent() {},
  };

  const components = new Map(); // name -> provider
  const sandbox = {
    nativeFabricUIManager: ui,
    console: {
      log() {},
      info() {},
      debug() {},
      warn: (...args) => logs.push(args.map(String).join(' ')),
      error: (...args) => logs.push(args.map(String).join(' ')),
    },
    setTimeout(fn, ms, ...args) {
      const id = nextTimer++;
      timers.push({ id, due: Number(ms) || 0, fn, args });
      return id;
    },
    clearTimeout(id) {
      const at = timers.findIndex((t) => t.id === id);
      if (at >= 0) timers.splice(at, 1);
    },
    setInterval() {
      throw new Error('setInterval is not expected here');
    },
    clearInterval() {},
    queueMicrotask: (fn) => microtasks.push(fn),
    requestAnimationFrame: (fn) => sandbox.setTimeout(() => fn(Date.now()), 16),
    AppRegistry: {
      registerComponent(name, provider) {
        components.set(name, provider);
        return name;
      },
    },
  };
  const context = vm.createContext(sandbox);
  vm.runInContext('globalThis.global = globalThis;', context);

  // Runs queued microtasks and timers (soonest first, time does not pass)
  // until nothing is left, as the host's loop would.
  async function settle() {
    for (let round = 0; round < 10000; round++) {
      await new Promise((resolve) => setImmediate(resolve)); // the bundle's promise jobs
      const task = microtasks.length > 0 ? microtasks.shift() : null;
      let timer = null;
      if (task === null && timers.length > 0) {
        timers.sort((a, b) => a.due - b.due || a.id - b.id);
        timer = timers.shift();
      }
      if (task === null && timer === null) return;
      try {
        if (task !== null) task();
        else timer.fn(...timer.args);
      } catch (e) {
        errors.push(e);
      }
    }
    throw new Error('the bundle never went idle');
  }

  // Sends an event to the node with `tag` as the host does, catching what
  // the handler throws.
  function dispatch(tag, type, nativeEvent) {
    assert.ok(eventHandler, 'the renderer registered no event handler');
    assert.ok(handles.has(tag), 'no instance handle for tag ' + tag);
    priority = type === 'topTouchMove' || type === 'topScroll' ? 2 : 1;
    try {
      eventHandler(handles.get(tag), type, nativeEvent);
      return null;
    } catch (e) {
      errors.push(e);
      return e;
    } finally {
      priority = 0;
    }
  }

  function start(name, rootTag) {
    const renderer = context.__talvekRenderer;
    assert.ok(renderer && typeof renderer.render === 'function', 'the bundle installed no __talvekRenderer');
    renderer.render(components.get(name)(), rootTag);
  }

  return { calls, committed, errors, logs, context, settle, dispatch, start };
}

// ---- reading the committed tree -------------------------------------------------------

function describe(n) {
  return { name: n.viewName, props: n.props, children: n.children.map(describe) };
}

function findByTestID(nodes, testID) {
  for (const n of nodes) {
    if (n.props.testID === testID) return n;
    const found = findByTestID(n.children, testID);
    if (found) return found;
  }
  return null;
}

function textOf(n) {
  return n.viewName === 'RCTRawText' ? n.props.text : n.children.map(textOf).join('');
}

function touch(host, tag, type, identifier = 1) {
  const t = { identifier, target: tag, pageX: 5, pageY: 5, locationX: 5, locationY: 5, timestamp: 1000 };
  const ended = type === 'topTouchEnd' || type === 'topTouchCancel';
  return host.dispatch(tag, type, Object.assign({}, t, { touches: ended ? [] : [t], changedTouches: [t] }));
}

// Presses the node with `testID` on root 1 (touch start, then end) and
// returns the calls it caused and what its handler threw.
async function press(host, testID, { target = (n) => n } = {}) {
  const node = findByTestID(host.committed.get(1), testID);
  assert.ok(node, 'no committed node with testID ' + testID);
  const tag = target(node).tag;
  const before = host.calls.length;
  const thrownStart = touch(host, tag, 'topTouchStart');
  await host.settle();
  const thrownEnd = touch(host, tag, 'topTouchEnd');
  await host.settle();
  return { calls: host.calls.slice(before), thrown: thrownStart || thrownEnd };
}

// ---- checks -------------------------------------------------------------------------------

const RED = 0xffff0000;
const STEEL = 0xff336699;
const HALF_BLUE = 0x800000ff;
const BLUE = 0xff0000ff;
const BUTTON = { accessible: true, accessibilityRole: 'button' };

const raw = (text) => ({ name: 'RCTRawText', props: { text }, children: [] });
const paragraph = (props, ...children) => ({ name: 'RCTText', props, children });

function expectedTree(count, outer, inner) {
  return [
    {
      name: 'RCTView',
      props: { testID: 'root', onLayout: true, backgroundColor: STEEL, padding: 8 },
      children: [
        paragraph({ color: RED, fontSize: 14 }, raw('Hello'), {
          name: 'RCTVirtualText',
          props: { fontWeight: 'bold', color: HALF_BLUE },
          children: [raw(' world')],
        }),
        {
          name: 'RCTImageView',
          props: {
            testID: 'logo',
            source: [{ uri: 'file:///tmp/logo.png', width: 16, height: 16, scale: 1 }],
            resizeMode: 'contain',
            width: 16,
            height: 16,
          },
          children: [],
        },
        { name: 'RCTView', props: { testID: 'counter', ...BUTTON, opacity: 1 }, children: [paragraph({}, raw('Pressed ' + count))] },
        { name: 'RCTView', props: { testID: 'failing', ...BUTTON }, children: [paragraph({}, raw('Fail'))] },
        {
          name: 'RCTView',
          props: { testID: 'outer', ...BUTTON },
          children: [
            paragraph({}, raw('outer ' + outer)),
            { name: 'RCTView', props: { testID: 'inner', ...BUTTON }, children: [paragraph({}, raw('inner ' + inner))] },
          ],
        },
      ],
    },
  ];
}

const checks = [];
function check(name, fn) {
  checks.push({ name, fn });
}

let host;

check('first render: nodes created children first, props flattened and processed, one commit', async () => {
  host.start('RecordingDemo', 1);
  await host.settle();
  const created = host.calls.filter((c) => c.op === 'createNode');
  assert.deepStrictEqual(
    created.map((c) => (c.viewName === 'RCTRawText' ? c.props.text : c.props.testID || c.viewName)),
    ['Hello', ' world', 'RCTVirtualText', 'RCTText', 'logo', 'Pressed 0', 'RCTText', 'counter', 'Fail', 'RCTText',
      'failing', 'outer 0', 'RCTText', 'inner 0', 'RCTText', 'inner', 'outer', 'root']
  );
  assert.ok(created.every((c) => c.rootTag === 1), 'every node belongs to root 1');
  assert.strictEqual(new Set(created.map((c) => c.tag)).size, created.length, 'tags are unique');
  const commits = host.calls.filter((c) => c.op === 'completeRoot');
  assert.strictEqual(commits.length, 1);
  assert.strictEqual(commits[0].rootTag, 1);
  assert.deepStrictEqual(commits[0].tree, expectedTree(0, 0, 0));
  assert.deepStrictEqual(host.errors, []);
});

check('press: touch start clones the button with the pressed style, touch end re-renders the new count', async () => {
  const counter = findByTestID(host.committed.get(1), 'counter');
  const before = host.calls.length;
  touch(host, counter.tag, 'topTouchStart');
  await host.settle();
  const pressedCalls = host.calls.slice(before);
  assert.deepStrictEqual(
    pressedCalls.find((c) => c.op === 'cloneNodeWithNewProps' && c.tag === counter.tag),
    { op: 'cloneNodeWithNewProps', tag: counter.tag, diff: { opacity: 0.5, backgroundColor: BLUE } }
  );
  assert.ok(pressedCalls.some((c) => c.op === 'completeRoot'), 'pressing commits');

  const afterStart = host.calls.length;
  touch(host, counter.tag, 'topTouchEnd');
  await host.settle();
  const released = host.calls.slice(afterStart);
  // The new text is a new raw text node; the button gets its style back,
  // the pressed-only colour removed (null).
  assert.ok(released.some((c) => c.op === 'createNode' && c.viewName === 'RCTRawText' && c.props.text === 'Pressed 1'));
  assert.deepStrictEqual(
    released.find((c) => c.op === 'cloneNodeWithNewChildrenAndProps' && c.tag === counter.tag).diff,
    { opacity: 1, backgroundColor: null }
  );
  assert.strictEqual(released.filter((c) => c.op === 'completeRoot').length, 1);
  assert.deepStrictEqual(released[released.length - 1].tree, expectedTree(1, 0, 0));
});

check('a touch on the text inside a button bubbles up and presses it', async () => {
  const { thrown } = await press(host, 'counter', { target: (n) => n.children[0] });
  assert.strictEqual(thrown, null);
  assert.strictEqual(textOf(findByTestID(host.committed.get(1), 'counter')), 'Pressed 2');
});

check('a cancelled touch releases the button without pressing it', async () => {
  const counter = findByTestID(host.committed.get(1), 'counter');
  touch(host, counter.tag, 'topTouchStart');
  await host.settle();
  assert.strictEqual(findByTestID(host.committed.get(1), 'counter').props.opacity, 0.5);
  touch(host, counter.tag, 'topTouchCancel');
  await host.settle();
  assert.deepStrictEqual(host.committed.get(1).map(describe), expectedTree(2, 0, 0));
});

check('a handler that throws reaches the host; its update lands and later presses still render', async () => {
  const { thrown } = await press(host, 'failing');
  assert.ok(thrown, 'the host saw the exception');
  assert.strictEqual(thrown.message, 'press handler failed');
  assert.strictEqual(textOf(findByTestID(host.committed.get(1), 'counter')), 'Pressed 12');
  const again = await press(host, 'counter');
  assert.strictEqual(again.thrown, null);
  assert.strictEqual(textOf(findByTestID(host.committed.get(1), 'counter')), 'Pressed 13');
  assert.deepStrictEqual(host.committed.get(1).map(describe), expectedTree(13, 0, 0));
});

check('nested Pressables: only the innermost one under the touch is pressed', async () => {
  await press(host, 'inner');
  assert.deepStrictEqual(host.committed.get(1).map(describe), expectedTree(13, 0, 1));
  await press(host, 'outer', { target: (n) => n.children[0] });
  assert.deepStrictEqual(host.committed.get(1).map(describe), expectedTree(13, 1, 1));
});

check('touch events without touch lists and events nobody declares are handled quietly', async () => {
  const counter = findByTestID(host.committed.get(1), 'counter');
  assert.strictEqual(host.dispatch(counter.tag, 'topTouchStart', { pageX: 1, pageY: 1 }), null);
  assert.strictEqual(host.dispatch(counter.tag, 'topTouchEnd', { pageX: 1, pageY: 1 }), null);
  assert.strictEqual(host.dispatch(counter.tag, 'topScroll', { contentOffset: { x: 0, y: 3 } }), null);
  assert.strictEqual(host.dispatch(counter.tag, 'topLayout', null), null);
  await host.settle();
  assert.strictEqual(textOf(findByTestID(host.committed.get(1), 'counter')), 'Pressed 14');
});

check('a scroll view: the host scroll view around its content view, onScroll hears the offset', async () => {
  host.start('ScrollDemo', 21);
  await host.settle();
  const list = findByTestID(host.committed.get(21), 'list');
  assert.strictEqual(list.viewName, 'RCTScrollView');
  assert.strictEqual(list.props.scrollEventThrottle, 16);
  assert.strictEqual(list.children[0].viewName, 'RCTScrollContentView');
  assert.strictEqual(host.dispatch(list.tag, 'topScroll', { contentOffset: { x: 0, y: 30 } }), null);
  await host.settle();
  assert.strictEqual(textOf(findByTestID(host.committed.get(21), 'list')), 'at 30');
  host.context.__talvekRenderer.unmount(21);
  await host.settle();
});

check('a component that throws while rendering empties only its own root and reaches the host', async () => {
  const logged = host.logs.length;
  host.start('Broken', 2);
  await host.settle();
  assert.deepStrictEqual(host.committed.get(2) || [], []);
  assert.ok(host.logs.slice(logged).some((l) => l.includes('in:') && l.includes('Broken')), 'the component stack was logged');
  assert.ok(host.errors.some((e) => e && e.message === 'render failed'), 'the error reached the host as uncaught');
  assert.deepStrictEqual(host.committed.get(1).map(describe), expectedTree(14, 1, 1));
});

check('unmount commits an empty root', async () => {
  host.context.__talvekRenderer.unmount(1);
  await host.settle();
  const last = host.calls[host.calls.length - 1];
  assert.deepStrictEqual(last, { op: 'completeRoot', rootTag: 1, tree: [] });
});

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'talvek-renderer-'));
  const bundle = path.join(dir, 'recording_app.js');
  let failed = 0;
  try {
    await build({ entry: path.join(__dirname, 'recording_app.jsx'), outfile: bundle });
    host = createHost();
    vm.runInContext(fs.readFileSync(bundle, 'utf8'), host.context, { filename: bundle });
    for (const { name, fn } of checks) {
      try {
        await fn();
        console.log('ok   ' + name);
      } catch (e) {
        failed++;
        console.log('FAIL ' + name + '\n' + (e && e.stack ? e.stack : String(e)));
      }
    }
  } catch (e) {
    failed++;
    console.log('FAIL setting up\n' + (e && e.stack ? e.stack : String(e)));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
  if (failed > 0 && host && host.logs.length > 0) console.log('bundle output:\n' + host.logs.join('\n'));
  console.log(failed === 0 ? 'all ' + checks.length + ' checks passed' : failed + ' check(s) failed');
  process.exitCode = failed === 0 ? 0 : 1;
}

main();
