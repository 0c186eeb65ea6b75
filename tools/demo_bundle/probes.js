// What the demo asks the native modules: which exist, their methods and
// constants, and the answers of those that can answer without side effects.
const MODULES = ['EngineHost', 'SecureStore', 'KV', 'Shell', 'Media', 'Attach', 'Share', 'AuthLoopback', 'Updater'];

function nativeModule(name) {
  return globalThis.__turboModuleProxy(name);
}

export function describeModule(name) {
  const module = nativeModule(name);
  if (module === null) return { name, present: false, text: name + ': not in this build' };
  const methods = Object.keys(module).filter((key) => typeof module[key] === 'function');
  const constants = JSON.stringify(module.getConstants());
  return { name, present: true, methods, text: name + ': methods [' + methods.join(', ') + '], constants ' + constants };
}

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
      const exit = await exited; // sent after the last line
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
  Shell: async (shell) => 'app ' + JSON.stringify(await shell.appInfo()),
};

// Runs one module's probe: "<name> answers <text>" or "<name> rejects ...".
export async function probe(name) {
  const module = nativeModule(name);
  const ask = PROBES[name];
  if (module === null || ask === undefined) return null;
  try {
    return name + ' answers ' + (await ask(module));
  } catch (e) {
    return name + ' rejects ' + JSON.stringify({ code: e.code, message: e.message });
  }
}

export const MODULE_NAMES = MODULES;
