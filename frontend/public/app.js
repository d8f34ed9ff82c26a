'use strict';
/* global Plots, NetGraph */
// The page: the run form, the live estimates and the token game. All state
// comes from the server's event stream; buttons call its JSON operations.
const $ = (id) => document.getElementById(id);
const page = { setup: null, modeValues: {}, run: null, results: null, tg: null, layoutFor: null, playing: false, fired: [] };
const plots = new Plots($('plots'));
const graph = new NetGraph($('tg-graph'), {
  onPlace: (name) => tgAction(page.tg && page.tg.state.singleStep ? { action: 'singlestep', step: 'place', name } : { action: 'place', name }),
  onTransition: (name) => tgAction({ action: 'fire', name }),
});

async function api(path, body) {
  const init = body === undefined ? {} : { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) };
  const res = await fetch(path, init);
  const data = await res.json();
  if (!res.ok) throw new Error(data.error || res.statusText);
  return data;
}

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  e.append(...children);
  return e;
}

// ---- the run form ----

function currentMode() {
  return page.setup.modes.find((m) => m.id === $('mode').value);
}

function renderOptions() {
  const mode = currentMode();
  const values = page.modeValues[mode.id] || (page.modeValues[mode.id] = { ...mode.defaults });
  const box = $('options');
  box.textContent = '';
  for (const o of mode.options) {
    let input;
    if (o.type === 'switch') {
      input = el('input', { type: 'checkbox', checked: !!values[o.name] });
      input.addEventListener('change', () => { values[o.name] = input.checked; });
      box.append(el('label', {}, input, ' ' + o.label));
    } else if (o.type === 'bool') {
      input = el('select', {}, el('option', { value: '', textContent: '(default)' }), el('option', { value: 'true', textContent: 'on' }), el('option', { value: 'false', textContent: 'off' }));
      input.value = values[o.name] || '';
      input.addEventListener('change', () => { values[o.name] = input.value; });
      box.append(el('label', {}, o.label, input));
    } else {
      input = el('input', { value: values[o.name] || '', placeholder: o.type === 'date' ? 'hh:mm:ss@mm/dd/yyyy' : '' });
      input.addEventListener('input', () => { values[o.name] = input.value; });
      box.append(el('label', {}, o.label, input));
    }
    input.id = 'opt-' + o.name;
  }
}

async function showFolder() {
  const info = $('folder-info');
  try {
    const f = await api('/api/folder?path=' + encodeURIComponent($('folder').value));
    info.textContent = f.marking === null ? 'no marking.xml in this folder' : 'marking.xml found';
    info.className = f.marking === null ? 'error' : 'hint';
    $('marking').textContent = f.marking === null ? '' : f.marking;
  } catch (e) {
    info.textContent = e.message;
    info.className = 'error';
    $('marking').textContent = '';
  }
}

async function loadSetup() {
  page.setup = await api('/api/setup');
  const programs = $('program');
  programs.textContent = '';
  for (const p of page.setup.programs) programs.append(el('option', { value: p.id, textContent: p.id }));
  if (!page.setup.programs.length) $('setup-error').textContent = 'No simulator program found in the build tree: build it first (cmake --build build).';
  const modes = $('mode');
  for (const m of page.setup.modes) modes.append(el('option', { value: m.id, textContent: m.label }));
  $('folder').value = page.setup.defaultFolder;
  renderOptions();
  showFolder();
}

async function start() {
  $('setup-error').textContent = '';
  const mode = currentMode();
  const values = page.modeValues[mode.id];
  const options = {};
  for (const o of mode.options) {
    const v = values[o.name];
    if (o.type === 'switch' ? v : v !== undefined && v !== '') options[o.name] = o.type === 'switch' ? true : String(v);
  }
  try {
    await api('/api/run', { program: $('program').value, folder: $('folder').value, mode: mode.id, options });
    showView(mode.tokengame ? 'tokengame' : 'estimates');
  } catch (e) {
    $('setup-error').textContent = e.message;
  }
}

// ---- views ----

function showView(name) {
  for (const t of document.querySelectorAll('.tab')) t.classList.toggle('active', t.dataset.view === name);
  for (const v of document.querySelectorAll('.view')) v.classList.toggle('active', v.id === 'view-' + name);
  if (name === 'estimates') plots.fitWidth();
}

function renderRun() {
  const r = page.run;
  const s = $('run-state');
  if (!r) { s.textContent = 'idle'; s.className = 'state'; return; }
  const failed = r.exit && (r.exit.code !== 0 || r.exit.signal);
  s.textContent = r.state === 'ended' ? `ended (${r.exit.signal || 'status ' + r.exit.code})` : r.state;
  s.className = 'state ' + (failed ? 'failed' : r.state);
  $('run-info').textContent = `${r.mode} · pid ${r.pid || '–'}`;
  $('command-line').textContent = [r.program, ...r.args].join(' ') + '   (in ' + r.cwd + ')';
  $('start').disabled = r.state !== 'ended';
  $('stop').disabled = r.state === 'ended';
}

function appendConsole(entries) {
  const pre = $('console');
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  for (const e of entries) {
    const line = el('span', { textContent: e.t + '\n' });
    if (e.s === 'err') line.className = 'err';
    pre.append(line);
  }
  while (pre.childNodes.length > 2000) pre.firstChild.remove();
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

// ---- estimates ----

function applyResults(delta, full) {
  if (full) plots.clear();
  if (delta.header) plots.setTimeFormat(delta.header.xtickformat);
  const apply = (set, replace) => { for (const [name, s] of Object.entries(set || {})) plots.add(name, s.type, s.points, replace); };
  apply(full ? delta.series : delta.points, false);
  apply(delta.replaced, true);
  const tbody = $('elements').tBodies[0];
  for (const e of delta.elements || []) {
    const key = e.name + '<' + e.type + '>' + e.kind;
    let row = [...tbody.rows].find((r) => r.dataset.key === key);
    if (!row) {
      row = tbody.insertRow();
      row.dataset.key = key;
      for (let i = 0; i < 4; i++) row.insertCell();
    }
    row.cells[0].textContent = e.name;
    row.cells[1].textContent = e.type + (e.kind === 'display' ? ' (display)' : '');
    row.cells[2].textContent = e.value === null ? 'n/a' : String(e.value);
    row.cells[3].textContent = e.t === null ? '' : String(e.t);
  }
  page.results = delta;
  renderProgress();
}

function renderProgress() {
  const d = page.results;
  if (!d) return;
  $('model-time').textContent = d.time === null ? '–' : String(d.time);
  $('updates').textContent = String(d.updates);
  $('relerr').textContent = d.relativeError === null ? '–' : (d.relativeError * 100).toPrecision(3) + ' %';
  const values = page.run ? page.modeValues[page.run.mode] || {} : {};
  const target = Number(values.epsmax);
  $('target').textContent = values.epsmax ? values.epsmax + ' %' : '–';
  if (d.relativeError !== null && target > 0) $('progress-precision').value = Math.min(1, target / 100 / Math.max(d.relativeError, 1e-12));
  const secmax = Number(values.secmax);
  if (page.run) {
    const end = page.run.endedAt || Date.now();
    const secs = Math.round((end - page.run.startedAt) / 1000);
    $('clock-text').textContent = `${secs} s` + (secmax > 0 ? ` of ${secmax} s` : '');
    $('progress-clock').value = page.run.state === 'ended' ? 1 : secmax > 0 ? Math.min(1, secs / secmax) : 0;
  }
}

// The final results; measures the stream never showed (they reached their
// precision before the first estimate was sent, or are not watched) get a
// plot of their results.log rows.
function showResultsLog(results) {
  const ended = page.run && page.run.state === 'ended';
  $('results-log').textContent = results ? results.text : ended ? '(this run wrote no results.log)' : '(written when the run ends)';
  $('results-box').classList.toggle('ready', !!results);
  if (!results) return;
  const byMeasure = new Map();
  for (const [name, time, mean, , low, high] of results.rows) {
    if (time === '' || (plots.charts.has(name) && !plots.charts.get(name).fromLog)) continue;
    if (!byMeasure.has(name)) byMeasure.set(name, []);
    byMeasure.get(name).push([Number(time), Number(mean), Number(low), Number(high)]);
  }
  for (const [name, points] of byMeasure) {
    plots.add(name, 'from results.log', points, true);
    plots.charts.get(name).fromLog = true;
  }
}

// ---- token game ----

async function tgAction(body) {
  $('tg-message').textContent = '';
  try {
    return await api('/api/tokengame', body);
  } catch (e) {
    $('tg-message').textContent = e.message;
    return null;
  }
}

async function loadLayout() {
  const id = page.run && page.run.description;
  if (page.layoutFor === id) return;
  page.layoutFor = id;
  if (!id) return;
  try {
    graph.render(await api('/api/layout?description=' + encodeURIComponent(id)));
    $('measure-names').textContent = '';
    for (const m of graph.measureNames) $('measure-names').append(el('option', { value: m }));
  } catch (e) {
    $('tg-message').textContent = 'layout: ' + e.message;
    page.layoutFor = null;
  }
}

// A layout of the names alone, when no description is known: a grid.
function gridFromState(state) {
  const names = Object.keys(state.places);
  const cols = Math.ceil(Math.sqrt(names.length + state.transitions.length)) || 1;
  const at = (i) => ({ x: (i % cols) * 90 + 45, y: Math.floor(i / cols) * 90 + 45 });
  return {
    width: cols * 90, height: Math.ceil((names.length + state.transitions.length) / cols) * 90, edges: [],
    places: names.map((name, i) => ({ name, ...at(i), w: 32, h: 32 })),
    transitions: state.transitions.map((name, i) => ({ name, ...at(names.length + i), w: 9, h: 32 })),
  };
}

function renderTokenGame() {
  const st = page.tg && page.tg.state;
  if (!st) return;
  if (!graph.places.size && Object.keys(st.places).length && !page.layoutFor) graph.render(gridFromState(st));
  graph.update(st, page.fired);
  $('tg-clock').textContent = st.clock || '–';
  $('tg-firelist').textContent = '';
  for (const t of st.fireList) $('tg-firelist').append(el('span', { textContent: t }));
  if (!st.fireList.length) $('tg-firelist').textContent = '(no event)';
  $('tg-fired').textContent = page.fired.length ? 'Fired: ' + page.fired.join(' or ') : '';
  $('tg-next').textContent = st.nextEvent ? `Next event: ${st.nextEvent.transition} in ${st.nextEvent.delayMs} ms` : '';
  if (st.error) $('tg-message').textContent = st.error;
  if (!st.connected) $('tg-message').textContent = 'The token game has ended' + (st.error ? ': ' + st.error : '.');
  if (st.selectedPlace && st.places[st.selectedPlace]) {
    const p = st.places[st.selectedPlace];
    $('tg-place-content').textContent = `${st.selectedPlace}: ${p.tokens} token(s)\n${p.content}`;
  }
  $('tg-single').hidden = !st.singleStep;
  if (st.singleStep) {
    $('tg-single-steps').textContent = `${st.singleStep.steps} step(s)`;
    const a = st.singleStep.lastAnswer;
    $('tg-ss-answer').textContent = !a ? '' : a.fireList ? 'Fire list: ' + (a.fireList.join(', ') || '(none)') : `${a.place}: ${a.content}`;
  }
  const rows = $('tg-breakpoints').querySelectorAll('.row');
  rows.forEach((r, i) => r.classList.toggle('triggered', st.triggered.includes(i)));
  $('tg-triggered').textContent = st.triggered.length ? 'Triggered: ' + st.triggered.map((i) => describeBreak(st.breakpoints[i], i)).join(', ') : '';
  const disabled = !st.connected;
  for (const id of ['tg-autofire', 'tg-autotrans', 'tg-time', 'tg-singlestep', 'tg-setbreaks', 'tg-breaks']) $(id).disabled = disabled || !!st.singleStep;
  $('tg-play').disabled = (disabled || !!st.singleStep) && !page.playing;
}

function describeBreak(b, i) {
  return b ? `#${i} ${b.measure} ${b.relation} ${b.value}` : `#${i}`;
}

function addBreakRow(b) {
  const measures = graph.measureNames || [];
  const measure = el('input', { className: 'measure', value: b ? b.measure : measures[0] || '', placeholder: 'measure' });
  measure.setAttribute('list', 'measure-names');
  const relation = el('select', { className: 'relation' }, ...['>', '>=', '=', '<=', '<'].map((r) => el('option', { value: r, textContent: r })));
  relation.value = b ? b.relation : '>=';
  const value = el('input', { className: 'value', value: b ? b.value : '1' });
  const remove = el('button', { textContent: '×', title: 'remove' });
  const row = el('div', { className: 'row' }, measure, relation, value, remove);
  remove.addEventListener('click', () => row.remove());
  $('tg-breakpoints').append(row);
}

function breakRows() {
  return [...$('tg-breakpoints').querySelectorAll('.row')].map((r) => ({
    measure: r.querySelector('.measure').value.trim(), relation: r.querySelector('.relation').value, value: r.querySelector('.value').value,
  }));
}

function addTranscript(entries) {
  const box = $('tg-transcript');
  for (const e of entries) {
    box.append(el('div', { className: 'cmd', textContent: '> ' + e.command }));
    box.append(el('div', { className: 'reply', textContent: JSON.stringify(e.reply) }));
  }
  while (box.childNodes.length > 800) box.firstChild.remove();
  box.scrollTop = box.scrollHeight;
}

function tgState(state) {
  const before = page.tg && page.tg.state;
  page.tg = page.tg || { transcript: [] };
  page.tg.state = state;
  // Which transition fired: named by FIRE and SINGLESTEP, found from the
  // changed places after AUTOFIRE.
  if (state.lastFired) page.fired = [state.lastFired];
  else if (state.changedPlaces.length && (!before || before.changedPlaces !== state.changedPlaces)) page.fired = graph.transitionsTouching(state.changedPlaces);
  renderTokenGame();
}

async function play() {
  if (page.playing) { page.playing = false; return; }
  page.playing = true;
  $('tg-play').textContent = 'Stop';
  try {
    for (let i = 0; i < 1000 && page.playing; i++) {
      const st = await tgAction({ action: 'autofire' });
      if (!st || st.triggered.length || !st.fireList.length || !st.connected) break;
      await new Promise((r) => setTimeout(r, 150));
    }
  } finally {
    page.playing = false;
    $('tg-play').textContent = 'Run to breakpoint';
  }
}

// ---- the event stream ----

function applySnapshot(s) {
  page.run = s.run;
  renderRun();
  $('console').textContent = '';
  appendConsole(s.console);
  $('elements').tBodies[0].textContent = '';
  if (s.results) applyResults(s.results, true); else plots.clear();
  showResultsLog(s.resultsLog);
  $('tg-transcript').textContent = '';
  page.fired = [];
  page.tg = null;
  if (s.tokenGame) {
    addTranscript(s.tokenGame.transcript);
    tgState(s.tokenGame.state);
  }
  if (s.run && s.run.mode === 'tokengame') loadLayout().then(renderTokenGame);
}

function connectEvents() {
  const es = new EventSource('/api/events');
  const on = (name, fn) => es.addEventListener(name, (ev) => fn(JSON.parse(ev.data)));
  on('snapshot', applySnapshot);
  on('reset', applySnapshot);
  on('run', (r) => { page.run = r; renderRun(); renderProgress(); });
  on('console', (e) => appendConsole([e]));
  on('results', (d) => applyResults(d, false));
  on('resultsLog', showResultsLog);
  on('tgState', tgState);
  on('tgTranscript', (e) => addTranscript([e]));
  es.onopen = () => { $('connection').textContent = 'connected'; };
  es.onerror = () => { $('connection').textContent = 'reconnecting…'; };
}

function wire() {
  $('mode').addEventListener('change', renderOptions);
  $('folder').addEventListener('change', showFolder);
  $('start').addEventListener('click', start);
  $('stop').addEventListener('click', () => api('/api/stop', {}).catch((e) => { $('setup-error').textContent = e.message; }));
  for (const t of document.querySelectorAll('.tab')) t.addEventListener('click', () => showView(t.dataset.view));
  $('tg-autofire').addEventListener('click', () => tgAction({ action: 'autofire' }));
  $('tg-autotrans').addEventListener('click', () => tgAction({ action: 'autotrans' }));
  $('tg-time').addEventListener('click', () => tgAction({ action: 'time' }));
  $('tg-singlestep').addEventListener('click', () => tgAction({ action: 'singlestep', step: 'start' }));
  $('tg-ss-step').addEventListener('click', () => tgAction({ action: 'singlestep', step: 'step' }));
  $('tg-ss-firelist').addEventListener('click', () => tgAction({ action: 'singlestep', step: 'firelist' }));
  $('tg-ss-end').addEventListener('click', () => tgAction({ action: 'singlestep', step: 'end' }));
  $('tg-play').addEventListener('click', play);
  $('tg-fit').addEventListener('change', () => $('tg-graph').classList.toggle('fit', $('tg-fit').checked));
  $('tg-addbreak').addEventListener('click', () => addBreakRow(null));
  $('tg-setbreaks').addEventListener('click', () => tgAction({ action: 'setbreaks', breakpoints: breakRows() }));
  $('tg-breaks').addEventListener('click', () => tgAction({ action: 'breaks' }));
  setInterval(renderProgress, 1000);
  window.addEventListener('resize', () => plots.fitWidth());
}

wire();
loadSetup().then(connectEvents).catch((e) => { $('setup-error').textContent = e.message; });
