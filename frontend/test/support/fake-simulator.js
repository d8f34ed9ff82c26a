#!/usr/bin/env node
'use strict';
// A stand-in for a compiled net program, for the front end's own tests:
// it answers the command line like the simulator, sends a plausible result
// stream to --resport, writes results.log, and in token-game mode (-t)
// speaks the token-game protocol on FAKE_TOKENGAME_PORT (default 2020) for
// the net of model/workflow.net.json (tokens: 5 in P_thread_pool and C1_sem;
// a transition is enabled when each input place holds a token).
const fs = require('fs');
const net = require('net');
const path = require('path');

const args = process.argv.slice(2);
const opt = (name, dflt) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : dflt; };
const say = (line) => process.stdout.write(line + '\n');
const description = JSON.parse(fs.readFileSync(path.join(__dirname, '..', '..', '..', 'model', 'workflow.net.json'), 'utf8'));
const g16 = (v) => String(Number(v.toPrecision(16)));

let rand = Number(opt('--seed', '1')) || 1;
function random() { rand = (rand * 48271) % 2147483647; return rand / 2147483647; }

function connectResults() {
  const addr = opt('--resport', 'NULL');
  if (addr === 'NULL') return Promise.resolve(null);
  const [host, port] = addr.split(':');
  say('Try to connect to: ' + addr);
  return new Promise((resolve) => {
    const s = net.connect({ host, port: Number(port) }, () => { say('connection established..'); resolve(s); });
    s.on('error', () => { say('Sim::init Failed to connect to server ' + addr); resolve(null); });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function simulate(transient) {
  const start = Number(opt('--mstart', '0'));
  const stop = Number(opt('--mstop', '20'));
  const points = transient ? Number(opt('--nofsampling', '5')) : 1;
  const stream = await connectResults();
  const send = (text) => stream && stream.write(text);
  say(`Running simulation from ${start} to ${stop} :: displayaddress=${opt('--resport', 'NULL')}`);
  send('NETNAME;workflow\nXTICKFORMAT;0\n');
  if (transient) { send(`STARTTIME;${start}\n`); send(`ENDTIME;${stop}\n`); }
  send(`TIME;${start}\n`);
  const measures = ['C1_in_use', 'A3Ready'];
  const rows = {};
  for (let rep = 7; rep <= 12; rep++) {
    for (let i = 0; i < points; i++) {
      const t = transient ? start + (i * (stop - start)) / Math.max(1, points - 1) : (rep - 6) * 100;
      let text = `TIME;${g16(t)}\n`;
      measures.forEach((m, k) => {
        const mean = (k + 1) * (i + 1) * 0.5 + random() * 0.1;
        const half = mean / rep;
        rows[m] = rows[m] || [];
        rows[m][i] = [t, mean, half * half, mean - half, mean + half, half / mean];
        text += `${m}<X:Mean>,<-ConfMin>,<+ConfMax>;${g16(mean)},${g16(mean - half)},${g16(mean + half)}\n`;
      });
      send(text);
      send(`TIME;${g16(t)}\nS_ready<Transition>;${rep}\n`);
    }
    await sleep(120);
  }
  say('SIMULATION SUCCESSFUL');
  const e = (v) => v.toExponential(6);
  let log = `RESULTS OF ${transient ? 'TRANSIENT' : 'STATIONARY'} SIMULATION\nSIMULATION TIME: ${stop}\n\n`;
  for (const m of measures) {
    log += `Measure: ${m}\n`;
    if (transient) {
      log += '\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n';
      for (const [t, mean, v, lo, hi, eps] of rows[m]) log += `\t${e(t)}\t${e(mean)}\t${e(v)}\t[${e(lo)};${e(hi)}]\t${e(eps)}\n`;
      log += '\n\n\n';
    } else {
      const [, mean, v, lo, hi, eps] = rows[m][0];
      log += `\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n\t${e(mean)}\t${e(v)}\t[${e(lo)};${e(hi)}]\t${e(eps)}\n\n\n`;
    }
  }
  fs.writeFileSync('results.log', log, 'latin1');
  say(log);
  send('EXIT;0\n');
  if (stream) stream.end();
}

// ---- token game ----
const places = new Map(description.places.map((p) => [p.name, 0]));
places.set('P_thread_pool', 5);
places.set('C1_sem', 5);
const transitions = [...description.transitions].sort((a, b) => (a.name < b.name ? -1 : 1));
let clock = 0;
let fired = 0;
let lastFired = null;
let breakpoints = [];

const enabled = (t) => t.inputs.every((a) => places.get(a.place) >= (a.multiplicity || 1));
const couldFire = () => transitions.filter(enabled).map((t) => t.name);
const content = (name) => Array(places.get(name) || 0).fill('1').join(',');
function clockText() {
  const s = Math.floor(clock);
  const two = (n) => String(n).padStart(2, '0');
  return `${two(Math.floor(s / 3600) % 24)}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}@01/${two(1 + Math.floor(s / 86400))}/0001`;
}
function fire(t) {
  for (const a of t.inputs) places.set(a.place, places.get(a.place) - (a.multiplicity || 1));
  for (const a of t.outputs) places.set(a.place, places.get(a.place) + (a.multiplicity || 1));
  clock += -Math.log(1 - random());
  fired++;
  lastFired = t;
}
// Every breakpoint watches the number of firings so far.
const triggered = () => breakpoints.map((b, i) => (b && {
  '=': fired === b.v, '>': fired > b.v, '<': fired < b.v, '>=': fired >= b.v, '<=': fired <= b.v }[b.r] ? i : -1)).filter((i) => i >= 0);
function change() {
  const ps = lastFired ? [...lastFired.inputs, ...lastFired.outputs].map((a) => a.place) : [];
  return `PLACES:${ps.join(';')}#TRANSITIONS:${couldFire().join(';')}#BREAKPOINTS:${triggered().join(';')}#\n`;
}
function choose() {
  const list = transitions.filter(enabled);
  return list.length ? list[Math.floor(random() * list.length)] : null;
}

async function tokenGame() {
  const stream = await connectResults();
  if (stream) stream.write('NETNAME;workflow\nXTICKFORMAT;3\n'), stream.write('TIME;0\n'), stream.write('STARTTIME;0\n');
  say('Running tokengame from 00:00:00@01/01/0001 :: displayaddress=' + opt('--resport', 'NULL'));
  const server = net.createServer();
  server.listen(Number(process.env.FAKE_TOKENGAME_PORT || 2020), '127.0.0.1');
  say('waiting for socket connection from GUI..');
  const socket = await new Promise((r) => server.once('connection', r));
  server.close();
  let dialogue = false;
  const reply = (text) => socket.write(Buffer.from(text, 'latin1'));
  socket.on('data', (chunk) => {
    const text = chunk.toString('latin1');
    const hash = text.lastIndexOf('#');
    if (hash < 0) return socket.end();
    const cmd = text.slice(0, hash);
    say(`received: <${cmd}>`);
    if (dialogue) {
      if (cmd.startsWith('PLACE')) reply(content(cmd.slice(6)) + '\n');
      else if (cmd.startsWith('FIRELIST')) reply(couldFire().map((n) => n + '\n').join('') + '\n');
      if (cmd.startsWith('EXIT')) { dialogue = false; reply('Thanx!\n'); return; }
      const t = choose();
      if (!t) { dialogue = false; reply('Thanx!\n'); return; }
      fire(t);
      reply(`Fired: ${t.name}#\n`);
      return;
    }
    if (cmd.startsWith('SINGLESTEP')) {
      const t = choose();
      if (!t) return reply('Thanx!\n');
      fire(t);
      dialogue = true;
      return reply(`Fired: ${t.name}#\n`);
    }
    if (cmd.startsWith('PLACE')) return reply(content(cmd.slice(6)) + '\n');
    if (cmd.startsWith('FIRELIST')) return reply(couldFire().join(';') + '\n');
    if (cmd.startsWith('AUTOFIRE')) { const t = choose(); if (t) { fire(t); reply(change()); } return undefined; }
    if (cmd.startsWith('AUTOTRANS')) { const t = choose(); return reply(t ? `TRANSITION:${t.name}#DELAY:1234#\n` : '\n'); }
    if (cmd.startsWith('FIRE')) { const t = transitions.find((x) => x.name === cmd.slice(5)); if (t && enabled(t)) fire(t); return reply(change()); }
    if (cmd.startsWith('NET')) {
      const names = (list) => list.map((n) => `\t${n} -> ${n}\n`).join('');
      return reply(`Places:\n${names([...places.keys()].sort())}Transitions:\n${names(transitions.map((t) => t.name))}\n`);
    }
    if (cmd.startsWith('TIME')) return reply(clockText() + '\n');
    if (cmd.startsWith('REPLICATION')) return reply('0');
    if (cmd.startsWith('SETBREAKS')) {
      const list = cmd.slice(10);
      breakpoints = list === '' ? [] : list.split(';').map((e) => { const f = e.split(':'); return f.length >= 3 ? { r: f[1], v: parseFloat(f[2]) || 0 } : null; });
      return reply(triggered().join(';') + '\n');
    }
    if (cmd.startsWith('BREAKS')) return reply(triggered().join(';') + '\n');
    if (cmd.startsWith('EXIT')) return socket.end();
    return undefined;
  });
  await new Promise((r) => socket.on('close', r));
  say('\nTOKENGAME COMPLETE.\n');
  if (stream) { stream.write('EXIT;0\n'); stream.end(); }
}

if (args.includes('-t')) tokenGame();
else simulate(args.includes('-T'));
