// EngineHost from JavaScript: the bundled engine double, its lines as
// events, its exit.
const engine = globalThis.__turboModuleProxy('EngineHost');

function collect() {
  const lines = [];
  const exits = [];
  const subs = [
    RCTDeviceEventEmitter.addListener('EngineHost.evt', (e) => lines.push(e.line)),
    RCTDeviceEventEmitter.addListener('EngineHost.exit', (e) => exits.push(e)),
  ];
  return {
    lines,
    exits,
    async until(what, check) {
      for (let i = 0; i < 500 && !check(); i++) await sleep(10);
      if (!check()) fail('timed out waiting for ' + what + '; lines ' + show(lines));
    },
    remove() {
      subs.forEach((s) => s.remove());
    },
  };
}

test('the bundled engine is found beside the program', async () => {
  const path = await engine.bundledPath();
  ok(path.startsWith('/') && path.endsWith('/engine/talvek-engine'), path);
});

test('lines go both ways, UTF-8 intact, and the exit follows the last line', async () => {
  const seen = collect();
  const pid = await engine.start(await engine.bundledPath(), ['--raw-hex', 'ff610a']);
  eq(typeof pid, 'number');
  eq(await engine.pid(), pid);
  eq(await engine.isRunning(), true);
  eq(await engine.send('안녕 ✓ "quoted"'), true);
  await seen.until('the echo', () => seen.lines.includes('안녕 ✓ "quoted"'));
  eq(seen.lines[0], '{"evt":"ready","pid":' + pid + '}');
  eq(seen.lines[1], '\uFFFDa', 'bytes that are not UTF-8 arrive replaced');
  eq(await engine.stopGraceful(5000), 'quit');
  await seen.until('the exit', () => seen.exits.length === 1);
  eq(seen.exits[0], { code: 0, reason: 'requested' });
  eq(seen.lines[seen.lines.length - 1], '{"evt":"quitting"}');
  eq(await engine.pid(), null);
  seen.remove();
});

test('a crash is unexpected; a restart from the exit listener works; a deaf engine stopped reports code 1', async () => {
  const seen = collect();
  const path = await engine.bundledPath();
  let restarted = null;
  const sub = RCTDeviceEventEmitter.addListener('EngineHost.exit', () => {
    sub.remove();
    restarted = engine.start(path, ['--ignore-quit', '--ignore-eof']);
  });
  await engine.start(path, ['--exit', '42']);
  await seen.until('the crash', () => restarted !== null);
  eq(seen.exits[0], { code: 42, reason: 'unexpected' });
  eq(typeof (await restarted), 'number', 'the slot is free once the exit event is out');
  eq(await engine.stop(), true);
  await seen.until('the stop', () => seen.exits.length === 2);
  eq(seen.exits[1], { code: 1, reason: 'requested' });
  seen.remove();
});

test('rejections carry the code and the message', async () => {
  const e = await rejection(engine.send('x'));
  eq([e.code, e.message], ['not_running', '엔진이 실행 중이 아님']);
  const s = await rejection(engine.start('/nonexistent/engine', []));
  eq([s.code, s.message], ['spawn_failed', '엔진 기동 실패 (Win32 error 2)']);
});

test('an engine that left its process group is stopped, sends its exit and frees the slot', async () => {
  const seen = collect();
  const path = await engine.bundledPath();
  // exec keeps the process: the engine itself is in a session of its own,
  // and its daemon (fork, setsid, fork) is nobody's child.
  const pid = await engine.start('/bin/sh', ['-c', 'exec setsid "$0" --escape', path]);
  await seen.until('the daemon', () => seen.lines.some((l) => l.includes('"escaped"')));
  eq(seen.lines[0], '{"evt":"ready","pid":' + pid + '}');
  eq(await engine.stop(), true);
  await seen.until('the exit', () => seen.exits.length === 1);
  eq(seen.exits[0], { code: 1, reason: 'requested' });
  eq(await engine.isRunning(), false);
  eq(typeof (await engine.start(path, [])), 'number', 'the slot is free again');
  eq(await engine.stopGraceful(5000), 'quit');
  await seen.until('the second exit', () => seen.exits.length === 2);
  seen.remove();
});

test('a line sent right after stopGraceful reaches the engine after the quit line', async () => {
  const seen = collect();
  await engine.start(await engine.bundledPath(), []);
  await seen.until('the ready line', () => seen.lines.length === 1);
  // The engine leaves on the quit line and echoes whatever it reads before.
  const stopping = engine.stopGraceful(5000);
  const later = engine.send('sent after the stop').catch(() => false);
  eq(await stopping, 'quit');
  await seen.until('the exit', () => seen.exits.length === 1);
  await later;
  eq(seen.lines.slice(1), ['{"evt":"quitting"}']);
  seen.remove();
});
