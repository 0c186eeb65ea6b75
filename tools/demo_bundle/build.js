// Builds the demo app (or the app in --root, entry index.js) with Metro into
// one bundle for the host:
//   node build.js OUT [--platform ios|android] [--root DIR]
// Packages come from js/node_modules (pinned by js/package-lock.json).
'use strict';
const path = require('path');

const root = path.resolve(__dirname, '../..');
const modules = path.join(root, 'js', 'node_modules');
const need = (name) => require(require.resolve(name, { paths: [modules] }));

async function main() {
  const out = process.argv[2];
  if (!out) throw new Error('usage: node build.js OUT [--platform ios|android] [--root DIR]');
  const at = process.argv.indexOf('--platform');
  const platform = at > 0 ? process.argv[at + 1] : 'ios';
  const rootAt = process.argv.indexOf('--root');
  const projectRoot = rootAt > 0 ? path.resolve(process.argv[rootAt + 1]) : __dirname;
  const Metro = need('metro');
  const { getDefaultConfig } = need('@react-native/metro-config');
  const base = getDefaultConfig(projectRoot);
  const config = await Metro.loadConfig(
    { config: undefined },
    {
      ...base,
      projectRoot,
      watchFolders: [modules],
      resolver: { ...base.resolver, nodeModulesPaths: [modules] },
      cacheStores: [],
      maxWorkers: 2,
      reporter: { update() {} },
    }
  );
  // Metro names its output "<out>.js" unless it already ends so.
  const target = path.resolve(out);
  const written = target.endsWith('.js') ? target : target + '.js';
  await Metro.runBuild(config, { entry: './index.js', platform, minify: true, dev: false, out: written });
  if (written !== target) require('fs').renameSync(written, target);
}

main().catch((e) => {
  console.error(e && e.stack ? e.stack : String(e));
  process.exit(1);
});
