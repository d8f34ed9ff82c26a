#!/usr/bin/env node
'use strict';
// Browser test of the front end, as a user sees it: headless Chromium opens
// the page, runs a short transient simulation and watches the plots fill,
// then plays the token game (AUTOFIRE, FIRE, a breakpoint, the SINGLESTEP
// dialogue) and checks that the marking and the clock on the page are
// exactly what the protocol replies say.
//
//   node test/browser.js --part transient|tokengame|all [--build DIR | --fake]
//                        [--screenshots DIR]
//
// --build DIR: the real programs of DIR (the token game on port 2020, which
// must be free when the test starts).
// --fake: the stand-in simulator of test/support, token game on a free port.
const assert = require('assert');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const { chromium } = require('playwright-core');
const { countTokens, parseChange } = require('../lib/tokenGameProtocol');

const ROOT = path.resolve(__dirname, '..', '..');
const argv = process.argv.slice(2);
const arg = (name) => { const i = argv.indexOf(name); return i >= 0 ? argv[i + 1] : null; };
const part = arg('--part') || 'all';
const fake = argv.includes('--fake');
const buildDir = path.resolve(arg('--build') || path.join(ROOT, 'build'));
const shots = arg('--screenshots');
const log = (text) => console.log(`[browser] ${text}`);

const children = new Set();
function start(cmd, args, options) {
  const child = spawn(cmd, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
  children.add(child);
  child.on('exit', () => children.delete(child));
  child.output = '';
  child.stdout.on('data', (c) => { child.output += c; });
  child.stderr.on('data', (c) => { child.output += c; });
  return child;
}
const exited = (child) => new Promise((r) => (child.exitCode !== null || child.signalCode ? r() : child.once('exit', r)));
async function waitFor(what, fn, ms) {
  const end = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}
function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}
function portOpen(port) {
  return new Promise((resolve) => {
    const s = net.connect({ host: '127.0.0.1', port });
    s.once('connect', () => { s.destroy(); resolve(true); });
    s.once('error', () => resolve(false));
  });
}
function workFolder() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'frontend-test-'));
  fs.copyFileSync(path.join(ROOT, 'model', 'marking.xml'), path.join(dir, 'marking.xml'));
  return dir;
}

// ---- the page ----

async function startFrontend(tgPort) {
  const args = [path.join(ROOT, 'frontend', 'server.js'), '--port', '0', '--build', buildDir, '--tokengame-port', String(tgPort),
    '--folder', workFolder()];
  if (fake) args.push('--programs', path.join(__dirname, 'support', 'bin'));
  const server = start(process.execPath, args, { env: { ...process.env, FAKE_TOKENGAME_PORT: String(tgPort) } });
  const url = await waitFor('the front end', () => (/listening on (http:\S+)/.exec(server.output) || [])[1], 20000);
  return { server, url };
}

async function chooseRun(page, mode, options) {
  const program = await page.$eval('#program', (sel, wantFake) => [...sel.options].map((o) => o.value)
    .find((v) => (wantFake ? v.endsWith('support/bin/workflow') : v === 'workflow')), fake);
  assert.ok(program, 'the workflow program is offered');
  await page.selectOption('#program', program);
  await page.selectOption('#mode', mode);
  for (const [name, value] of Object.entries(options)) await page.fill('#opt-' + name, value);
  await page.click('#start');
}

async function transient(page) {
  log('transient simulation');
  await chooseRun(page, 'transient', { mstart: '0', mstop: '20', nofsampling: '5', confidence: '90', epsmax: '30', secmax: '120', seed: '777' });
  // The plots fill while the run goes on: points with intervals around them.
  await page.waitForSelector('.plot[data-measure]', { timeout: 120000 });
  await waitFor('plotted intervals', () => page.$$eval('.plot', (ps) => ps.some((p) => Number(p.dataset.points) >= 2 && Number(p.dataset.intervals) >= 1)), 120000);
  await waitFor('the end of the run', async () => /^ended/.test(await page.textContent('#run-state')), 180000);
  assert.strictEqual(await page.textContent('#run-state'), 'ended (status 0)');
  await waitFor('results.log on the page', async () => (await page.textContent('#results-log')).startsWith('RESULTS OF TRANSIENT SIMULATION'), 10000);
  const plots = await page.$$eval('.plot', (ps) => ps.map((p) => ({ name: p.dataset.measure, points: Number(p.dataset.points),
    latest: p.querySelector('.latest').textContent, streamed: !p.textContent.includes('from results.log') })));
  log(`plots: ${plots.map((p) => `${p.name}:${p.points}${p.streamed ? '' : '(results.log)'}`).join(' ')}`);
  assert.ok(plots.some((p) => p.streamed), 'estimates came with the result stream');
  assert.ok(plots.every((p) => p.points === 5), 'every measure has its five sampling points');
  // The CSV download holds one row per measure and sampling point, and the
  // last plotted mean is the final estimate of results.log.
  const csv = await page.evaluate(() => fetch('/api/results.csv').then((r) => r.text()));
  const rows = csv.trim().split('\n').slice(1).map((l) => l.split(','));
  for (const p of plots) {
    const last = rows.filter((r) => r[0] === p.name).at(-1);
    assert.ok(last, `results.csv has ${p.name}`);
    const mean = Number(/mean (\S+)/.exec(p.latest)[1]);
    assert.ok(Math.abs(mean - Number(last[2])) <= 1e-4 * Math.max(1, Math.abs(mean)), `${p.name}: plotted ${mean}, results.log ${last[2]}`);
  }
  const progress = await page.textContent('#relerr');
  assert.match(progress, /%$/);
  if (shots) await page.screenshot({ path: path.join(shots, 'frontend-estimates.png') });
}

// The transcript as the page shows it: [{command, reply}].
const transcript = (page) => page.$$eval('#tg-transcript > div', (divs) => {
  const out = [];
  for (let i = 0; i + 1 < divs.length; i += 2) out.push({ command: divs[i].textContent.slice(2), reply: JSON.parse(divs[i + 1].textContent) });
  return out;
});

// Presses a button (or clicks) that sends `command`, waits for its reply and
// the TIME that ends the page's refresh, then checks the page against the
// replies: the changed places' tokens, the fire list, the clock.
async function act(page, click, command) {
  const count = async () => (await transcript(page)).filter((e) => e.command === command).length;
  const before = await count();
  await click();
  const entries = await waitFor(`the replies to ${command}`, async () => {
    const t = await transcript(page);
    const i = t.map((e) => e.command).lastIndexOf(command);
    return t.filter((e) => e.command === command).length > before && t.slice(i).some((e) => e.command === 'TIME#') ? t.slice(i) : null;
  }, 20000);
  await page.waitForTimeout(200);
  const change = parseChange(entries[0].reply);
  for (const name of new Set(change.places)) {
    const reply = entries.find((e) => e.command === `PLACE ${name}#`).reply.replace(/\n$/, '');
    const shown = await page.getAttribute(`g.place[data-name="${name}"]`, 'data-tokens');
    assert.strictEqual(Number(shown), countTokens(reply), `tokens of ${name}`);
  }
  const time = entries.find((e) => e.command === 'TIME#').reply.replace(/\n$/, '');
  assert.strictEqual(await page.textContent('#tg-clock'), time, 'the clock is the TIME reply');
  const enabled = await page.$$eval('g.transition.enabled', (gs) => gs.map((g) => g.dataset.name));
  assert.deepStrictEqual(enabled.sort(), [...change.transitions].sort(), 'the highlighted transitions are the fire list');
  return { change, time };
}

// The SINGLESTEP dialogue: each answer (next step, a place, the fire list)
// fires one more event; End closes it, and the page then shows the marking,
// fire list and clock of the replies it read again.
async function singleStep(page) {
  const last = async (command) => (await transcript(page)).filter((e) => e.command === command).at(-1);
  const answer = async (click, command, count) => {
    const before = (await transcript(page)).filter((e) => e.command === command).length;
    await click();
    await waitFor(`the reply to ${command}`, async () => (await transcript(page)).filter((e) => e.command === command).length > before, 20000);
    const { reply } = await last(command);
    assert.match(reply, /Fired: [^#\n]+#\n$/, `${command} is answered by the next step`);
    assert.strictEqual(await page.textContent('#tg-single-steps'), `${count} step(s)`);
    return reply;
  };
  await answer(() => page.click('#tg-singlestep'), 'SINGLESTEP#', 1);
  const place = await page.$eval('g.place', (g) => g.dataset.name);
  const content = (await answer(() => page.click(`g.place[data-name="${place}"] circle`), `PLACE ${place}#`, 2)).split('\n')[0];
  assert.strictEqual(await page.textContent('#tg-ss-answer'), `${place}: ${content}`);
  const listed = (await answer(() => page.click('#tg-ss-firelist'), 'FIRELIST#', 3)).split('\n\n')[0].split('\n').filter((n) => n);
  assert.strictEqual(await page.textContent('#tg-ss-answer'), 'Fire list: ' + (listed.join(', ') || '(none)'));
  await answer(() => page.click('#tg-ss-step'), 'NEXT#', 4);
  const ended = (await transcript(page)).length;
  await page.click('#tg-ss-end');
  await page.waitForSelector('#tg-single', { state: 'hidden', timeout: 20000 });
  await page.waitForTimeout(200);
  const after = (await transcript(page)).slice(ended);
  assert.deepStrictEqual(after[0], { command: 'EXIT#', reply: 'Thanx!\n' }, 'End closes the dialogue');
  for (const name of await page.$$eval('g.place', (gs) => gs.map((g) => g.dataset.name))) {
    const read = after.find((e) => e.command === `PLACE ${name}#`);
    assert.ok(read, `${name} is read again`);
    assert.strictEqual(Number(await page.getAttribute(`g.place[data-name="${name}"]`, 'data-tokens')), countTokens(read.reply.replace(/\n$/, '')), `tokens of ${name}`);
  }
  const fireList = after.find((e) => e.command === 'FIRELIST#').reply.replace(/\n$/, '');
  const enabled = await page.$$eval('g.transition.enabled', (gs) => gs.map((g) => g.dataset.name));
  assert.deepStrictEqual(enabled.sort(), (fireList ? fireList.split(';') : []).sort(), 'the highlighted transitions are the fire list');
  assert.strictEqual(await page.textContent('#tg-clock'), after.find((e) => e.command === 'TIME#').reply.replace(/\n$/, ''));
}

async function tokenGame(page) {
  log('token game');
  await chooseRun(page, 'tokengame', { mstart: '0', seed: '1' });
  await waitFor('the marking', () => page.$$eval('g.place', (gs) => gs.length > 0 && gs.every((g) => g.dataset.tokens !== '')), 60000);
  await waitFor('the clock', async () => (await page.textContent('#tg-clock')) !== '–', 20000);
  const clock0 = await page.textContent('#tg-clock');
  log(`start clock ${clock0}`);
  const marked = await page.$$eval('g.place', (gs) => gs.filter((g) => g.dataset.tokens !== '0').map((g) => g.dataset.name));
  assert.ok(marked.length > 0, 'the initial marking is shown');

  const autofire = () => act(page, () => page.click('#tg-autofire'), 'AUTOFIRE#');
  const a = await autofire();
  assert.ok(a.change.places.length > 0, 'AUTOFIRE changed places');
  assert.notStrictEqual(await page.textContent('#tg-fired'), '', 'the fired transition is shown');

  const target = await page.$eval('g.transition.enabled', (g) => g.dataset.name);
  await act(page, () => page.click(`g.transition[data-name="${target}"] rect`), `FIRE ${target}#`);
  assert.strictEqual(await page.textContent('#tg-fired'), `Fired: ${target}`);
  // The clock shows whole seconds: fire on until it has moved.
  let clock = await page.textContent('#tg-clock');
  for (let i = 0; i < 100 && clock === clock0; i++) clock = (await autofire()).time;
  log(`clock ${clock0} -> ${clock}`);
  assert.notStrictEqual(clock, clock0, 'the clock moved');

  // A breakpoint that holds once the measure has a value: shown as triggered.
  await page.waitForSelector('#measure-names option', { state: 'attached' });
  const measure = await page.$eval('#measure-names option', (o) => o.value);
  await page.click('#tg-addbreak');
  await page.fill('#tg-breakpoints .row .measure', measure);
  await page.selectOption('#tg-breakpoints .row .relation', '>=');
  await page.fill('#tg-breakpoints .row .value', '0');
  await page.click('#tg-setbreaks');
  await waitFor('SETBREAKS', async () => (await transcript(page)).some((e) => e.command === `SETBREAKS ${measure}:>=:0#`), 10000);
  await page.click('#tg-play');
  await page.waitForSelector('#tg-breakpoints .row.triggered', { timeout: 60000 });
  const t = await transcript(page);
  const last = t.filter((e) => /^(AUTOFIRE|SETBREAKS)/.test(e.command)).at(-1);
  const triggered = last.command.startsWith('SETBREAKS') ? last.reply : parseChange(last.reply).breakpoints.join(';') + '\n';
  assert.strictEqual(triggered, '0\n', 'the simulator reports breakpoint 0');
  assert.match(await page.textContent('#tg-triggered'), new RegExp(`Triggered: #0 ${measure} >= 0`));
  if (shots) {
    await page.click(`g.place[data-name="${a.change.places[0]}"] circle`);
    await page.waitForTimeout(300);
    await page.screenshot({ path: path.join(shots, 'frontend-tokengame.png') });
  }

  await page.waitForSelector('#tg-play:has-text("Run to breakpoint")');
  await singleStep(page);

  await page.click('#stop');
  await waitFor('the end of the token game', async () => /^ended/.test(await page.textContent('#run-state')), 20000);
  // EXIT ended the program (Stop would send SIGTERM only if it went on).
  assert.strictEqual(await page.textContent('#run-state'), 'ended (status 0)');
  assert.match(await page.textContent('#console'), /TOKENGAME COMPLETE/);
  assert.deepStrictEqual((await transcript(page)).at(-1), { command: 'EXIT#', reply: '' });
}

async function main() {
  const parts = part === 'all' ? ['transient', 'tokengame'] : [part];
  if (!fake) {
    const program = path.join(buildDir, 'workflow');
    if (!fs.existsSync(program)) throw new Error(`no program ${program}`);
    if (parts.includes('tokengame') && await portOpen(2020)) throw new Error('port 2020 is in use before the test');
  }
  const tgPort = fake ? await freePort() : 2020;
  const { server, url } = await startFrontend(tgPort);
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'frontend-chromium-'));
  // A fresh profile folder each time (the --user-data-dir of Chromium).
  const browser = await chromium.launchPersistentContext(userDir, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 1500, height: 1000 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = browser.pages()[0] || await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    page.on('requestfailed', (r) => errors.push(`request failed: ${r.url()}`));
    page.on('request', (r) => { if (!r.url().startsWith(url)) errors.push(`request outside the front end: ${r.url()}`); });
    await page.goto(url);
    await page.waitForSelector('#program option', { state: 'attached' });
    if (parts.includes('transient')) await transient(page);
    if (parts.includes('tokengame')) await tokenGame(page);
    assert.deepStrictEqual(errors, [], 'no page errors, nothing fetched from elsewhere');
  } finally {
    await browser.close();
    server.kill('SIGTERM');
    await Promise.race([exited(server), new Promise((r) => setTimeout(r, 8000))]);
    fs.rmSync(userDir, { recursive: true, force: true });
  }
  log(`passed: ${parts.join(', ')}`);
  return 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(e);
  for (const c of children) c.kill('SIGKILL');
  process.exit(1);
});
