// The demo bundle: shows which native modules this build offers and what
// they answer. Plain JavaScript, no build step; installed as
// Bundle/index.windows.
'use strict';

const MODULES = ['EngineHost', 'SecureStore', 'KV', 'Shell', 'Media', 'Attach', 'Share', 'AuthLoopback', 'Updater'];

function describeModule(name) {
  const module = globalThis.__turboModuleProxy(name);
  if (module === null) return name + ': not in this build';
  const methods = Object.keys(module).filter((key) => typeof module[key] === 'function');
  const constants = JSON.stringify(module.getConstants());
  return name + ': methods [' + methods.join(', ') + '], constants ' + constants;
}

// Questions each module can answer without side effects, as modules land.
const PROBES = {
  EngineHost: async (engine) => {
    const lines = [];
    const sub = RCTDeviceEventEmitter.addListener('EngineHost.evt', (e) => lines.push(e.line));
    const exited = new Promise((resolve) => {
      const exitSub = RCTDeviceEventEmitter.addListener('EngineHost.exit', (e) => {
        exitSub.remove();
        resolve(e);
      });
    });
    try {
      await engine.start(await engine.bundledPath(), []);
      await engine.send('hello from the demo bundle');
      const stopped = await engine.stopGraceful(3000);
      const exit = await exited;  // sent after the last line
      return 'engine said ' + JSON.stringify(lines) + ', stop: ' + stopped + ', exit ' + JSON.stringify(exit);
    } finally {
      sub.remove();
    }
  },
  KV: async (kv) => {
    const visits = Number((await kv.get('demo.visits')) || '0') + 1;
    await kv.set('demo.visits', String(visits));
    return 'demo.visits = ' + visits;
  },
  SecureStore: async (store) => 'demo secret ' + JSON.stringify(await store.get('demo.secret')),
};

async function probe(name) {
  const module = globalThis.__turboModuleProxy(name);
  const ask = PROBES[name];
  if (module === null || ask === undefined) return;
  try {
    console.log('  ' + name + ' answers', await ask(module));
  } catch (e) {
    console.log('  ' + name + ' rejects', { code: e.code, message: e.message });
  }
}

AppRegistry.registerComponent('VirelantDesktop', () => async ({ rootTag }) => {
  console.log('TALVEK demo bundle, root tag ' + rootTag);
  for (const name of MODULES) console.log(describeModule(name));
  for (const name of MODULES) await probe(name);
  console.log('demo bundle done');
});
