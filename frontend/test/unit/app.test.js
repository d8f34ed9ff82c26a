'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const http = require('http');
const net = require('net');
const os = require('os');
const path = require('path');
const { App } = require('../../lib/app');
const limits = require('../../lib/limits');

const ROOT = path.resolve(__dirname, '..', '..', '..');

function request(port, { method = 'GET', url = '/', headers = {}, body = null }) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: url, headers }, (res) => {
      let data = '';
      res.on('data', (c) => { data += c; });
      res.on('end', () => resolve({ status: res.statusCode, body: data }));
    });
    req.on('error', reject);
    req.end(body);
  });
}

async function frontEnd(t, tokenGamePort = 1) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fe-app-'));
  fs.copyFileSync(path.join(ROOT, 'model', 'marking.xml'), path.join(work, 'marking.xml'));
  const app = new App({ repoRoot: ROOT, buildDir: path.join(work, 'nobuild'), workRoots: [work], defaultFolder: work, limits,
    tokenGamePort, extraProgramDirs: [path.join(__dirname, '..', 'support', 'bin')] });
  const port = await app.listen('127.0.0.1', 0);
  t.after(async () => { await app.close(); fs.rmSync(work, { recursive: true, force: true }); });
  const post = (url, body, headers = {}) => request(port, { method: 'POST', url, body: typeof body === 'string' ? body : JSON.stringify(body),
    headers: { 'Content-Type': 'application/json', ...headers } });
  const program = JSON.parse((await request(port, { url: '/api/setup' })).body).programs[0].id;
  return { app, port, work, post, program };
}

test('only pages of the front end itself are served and obeyed', async (t) => {
  const { port, work, post, program } = await frontEnd(t);
  assert.strictEqual((await request(port, { url: '/', headers: { Host: 'evil.example:80' } })).status, 403);
  assert.strictEqual((await request(port, { url: '/' })).status, 200);
  const run = { program, folder: work, mode: 'transient', options: {} };
  assert.strictEqual((await post('/api/run', run, { Origin: 'http://evil.example' })).status, 403);
  assert.strictEqual((await post('/api/run', JSON.stringify(run), { 'Content-Type': 'text/plain' })).status, 400);
  assert.strictEqual((await post('/api/run', 'x'.repeat(limits.requestBody + 1))).status, 400);
  assert.strictEqual((await post('/api/run', '{not json')).status, 400);
  assert.strictEqual((await post('/api/tokengame', 'null')).status, 400);
  const refused = [
    [{ ...run, program: '/bin/sh' }, /not a program of the build tree/],
    [{ ...run, folder: '/etc' }, /outside the allowed roots/],
    [{ ...run, options: { mstop: '1;id' } }, /not a number/],
    [{ ...run, mode: 'tokengame', options: { mstop: '3' } }, /does not belong/],
  ];
  for (const [body, message] of refused) {
    const res = await post('/api/run', body);
    assert.strictEqual(res.status, 400);
    assert.match(JSON.parse(res.body).error, message);
  }
  assert.strictEqual((await request(port, { url: '/api/layout?description=../../etc/passwd' })).status, 400);
  assert.strictEqual((await request(port, { url: '/api/results.log' })).status, 404);
});

test('a run started over HTTP ends with its results.log as text and CSV; one run at a time', async (t) => {
  const { app, port, work, post, program } = await frontEnd(t);
  const started = await post('/api/run', { program, folder: work, mode: 'transient', options: { mstop: '20', nofsampling: '3' } });
  assert.strictEqual(started.status, 200, started.body);
  assert.deepStrictEqual(JSON.parse(started.body).args.slice(0, 5), ['-T', '--mstop', '20', '--nofsampling', '3']);
  const again = await post('/api/run', { program, folder: work, mode: 'transient', options: {} });
  assert.match(JSON.parse(again.body).error, /still going on/);
  await new Promise((r) => app.run.once('ended', r));
  assert.deepStrictEqual(app.run.exit, { code: 0, signal: null });
  assert.ok(app.run.results.snapshot().series.C1_in_use.points.length === 3);
  assert.match((await request(port, { url: '/api/results.log' })).body, /^RESULTS OF TRANSIENT SIMULATION/);
  const csv = (await request(port, { url: '/api/results.csv' })).body.trim().split('\n');
  assert.strictEqual(csv.length, 1 + 2 * 3);
});

test('the token game is not started while another program holds its port', async (t) => {
  const squatter = net.createServer().listen(0, '127.0.0.1');
  await new Promise((r) => squatter.once('listening', r));
  t.after(() => squatter.close());
  const { work, post, program } = await frontEnd(t, squatter.address().port);
  const res = await post('/api/run', { program, folder: work, mode: 'tokengame', options: {} });
  assert.strictEqual(res.status, 400);
  assert.match(JSON.parse(res.body).error, /in use by another program/);
});

test('a token game is connected, played over HTTP, and ended by Stop with EXIT', async (t) => {
  const free = net.createServer().listen(0, '127.0.0.1');
  await new Promise((r) => free.once('listening', r));
  const tgPort = free.address().port;
  await new Promise((r) => free.close(r));
  process.env.FAKE_TOKENGAME_PORT = String(tgPort);
  const { app, work, post, program } = await frontEnd(t, tgPort);
  assert.strictEqual((await post('/api/run', { program, folder: work, mode: 'tokengame', options: { mstart: '0' } })).status, 200);
  const deadline = Date.now() + 20000;
  while (!(app.session && app.session.state.clock) && Date.now() < deadline) await new Promise((r) => setTimeout(r, 50));
  assert.strictEqual(app.session.state.places.P_thread_pool.tokens, 5);
  const played = JSON.parse((await post('/api/tokengame', { action: 'autofire' })).body);
  assert.ok(played.changedPlaces.includes('P_thread_pool'));
  assert.strictEqual(played.places.P_thread_pool.tokens, 4);
  assert.match(JSON.parse((await post('/api/tokengame', { action: 'fire', name: 'rm -rf' })).body).error, /not a transition/);
  assert.match(JSON.parse((await post('/api/tokengame', { action: 'nope' })).body).error, /unknown/);
  const ended = new Promise((r) => app.run.once('ended', r));
  await post('/api/stop', {});
  await ended;
  assert.deepStrictEqual(app.run.exit, { code: 0, signal: null });
  assert.ok(app.run.console.some((l) => l.t === 'TOKENGAME COMPLETE.'));
  assert.deepStrictEqual(app.session.transcript.at(-1), { n: app.session.transcript.length, command: 'EXIT#', reply: '' });
});
