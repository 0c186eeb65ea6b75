#!/usr/bin/env node
// Bundles an app that uses React directly, together with the renderer
// runtime, into one script for the host's JavaScript engine:
//
//   node js/renderer/build.js <entry.jsx> <out.js> [--minify]
//
// The app imports what it needs from 'talvek-renderer' (render, React, View,
// Text, Image, Pressable) and registers its root component with the host's
// global AppRegistry. Packages resolve from js/node_modules.
'use strict';

const path = require('path');
const esbuild = require('esbuild');

const RENDERER_DIR = __dirname;
const JS_DIR = path.dirname(RENDERER_DIR);
const NODE_MODULES = path.join(JS_DIR, 'node_modules');

// Module names mapped to files of ours; React Native's own environment set-up
// is not part of this runtime.
const ALIASES = {
  'talvek-renderer': path.join(RENDERER_DIR, 'runtime.js'),
  'react-native/react-private-interface': path.join(RENDERER_DIR, 'private_interface.js'),
};
const EMPTY_MODULES = new Set(['react-native/setup-env']);

const aliasPlugin = {
  name: 'talvek-aliases',
  setup(build) {
    build.onResolve({ filter: /^(talvek-renderer|react-native\/(react-private-interface|setup-env))$/ }, (args) => {
      if (EMPTY_MODULES.has(args.path)) return { path: args.path, namespace: 'talvek-empty' };
      return { path: ALIASES[args.path] };
    });
    build.onLoad({ filter: /.*/, namespace: 'talvek-empty' }, () => ({ contents: '', loader: 'js' }));
  },
};

// Builds `entry` into `outfile`; resolves to esbuild's result (warnings).
async function build({ entry, outfile, minify = false }) {
  const entryPath = path.resolve(entry);
  return esbuild.build({
    // The runtime first (it installs the renderer hook), then the app.
    stdin: {
      contents: "import 'talvek-renderer';\nimport " + JSON.stringify(entryPath) + ';\n',
      resolveDir: path.dirname(entryPath),
      sourcefile: 'talvek-entry.js',
      loader: 'js',
    },
    outfile: path.resolve(outfile),
    bundle: true,
    format: 'iife',
    platform: 'browser',
    target: 'es2020',
    jsx: 'automatic',
    loader: { '.js': 'jsx' },
    define: { 'process.env.NODE_ENV': '"production"' },
    nodePaths: [NODE_MODULES],
    absWorkingDir: JS_DIR,
    plugins: [aliasPlugin],
    minify,
    legalComments: 'none',
    logLevel: 'silent',
  });
}

function formatMessages(messages) {
  return messages
    .map((m) => (m.location ? m.location.file + ':' + m.location.line + ':' + m.location.column + ': ' : '') + m.text)
    .join('\n');
}

async function main(argv) {
  const minify = argv.includes('--minify');
  const positional = argv.filter((a) => a !== '--minify');
  if (positional.length !== 2 || positional.some((a) => a.startsWith('--'))) {
    console.error('usage: node build.js <entry.jsx> <out.js> [--minify]');
    return 2;
  }
  try {
    const result = await build({ entry: positional[0], outfile: positional[1], minify });
    if (result.warnings.length > 0) console.error(formatMessages(result.warnings));
    return 0;
  } catch (e) {
    console.error(Array.isArray(e.errors) && e.errors.length > 0 ? formatMessages(e.errors) : String(e));
    return 1;
  }
}

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => {
    process.exitCode = code;
  });
}

module.exports = { build };
