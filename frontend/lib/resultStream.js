'use strict';
// Reads the simulator's result stream: text lines of progress and estimates
// that the simulator sends to the address given with --resport.

const ESTIMATE = /^(.*)<([^<>]*):Mean>,<-ConfMin>,<\+ConfMax>;([^,;]*),([^,;]*),([^,;]*)$/;
const DISPLAY = /^(.*)<([^<>]*):Display>;([^;]*)$/;
const VALUE = /^(.*)<([^<>:]*)>;([^;]*)$/;

// Numbers are written like printf's %.16g; "nan" and "inf" become null so
// that they survive JSON and are never plotted.
function number(text) {
  const value = Number(text);
  return Number.isFinite(value) ? value : null;
}

// One line of the stream as an event object.
function parseLine(line) {
  const keyed = /^(NETNAME|XTICKFORMAT|STARTTIME|ENDTIME|TIME|EXIT);(.*)$/.exec(line);
  if (keyed) {
    const [, key, rest] = keyed;
    if (key === 'NETNAME') return { kind: 'netname', value: rest };
    if (key === 'XTICKFORMAT') return { kind: 'xtickformat', value: rest };
    if (key === 'EXIT') return { kind: 'exit', code: rest };
    return { kind: key.toLowerCase(), t: number(rest) };
  }
  let m = ESTIMATE.exec(line);
  if (m) {
    return { kind: 'estimate', name: m[1], type: m[2], mean: number(m[3]), low: number(m[4]), high: number(m[5]) };
  }
  m = DISPLAY.exec(line);
  if (m) return { kind: 'display', name: m[1], type: m[2], value: number(m[3]) };
  m = VALUE.exec(line);
  if (m) return { kind: 'value', name: m[1], type: m[2], value: number(m[3]) };
  return { kind: 'unknown', text: line };
}

// Collects what a run has sent so far: one series of (time, mean, low, high)
// per measure, the latest value of each watched element, the header lines.
// A transient run sends the estimate of every sampling point again after
// each replication, so a point at a time already known replaces it. A series
// that outgrows the limit is thinned to every other point; the page is then
// sent the whole series again instead of the new points.
class ResultModel {
  constructor(limits) {
    this.limits = limits;
    this.header = {};
    this.time = null;
    this.series = new Map();      // name -> { type, points: Map(x -> [m, l, h]) }
    this.elements = new Map();    // name<type> -> { name, type, kind, value, t }
    this.updates = 0;
    this.unknownLines = 0;
    this.exited = null;
    this.resetDelta();
  }

  resetDelta() {
    this.delta = { points: new Map(), replaced: new Set(), elements: new Set(), changed: false };
  }

  add(event) {
    switch (event.kind) {
      case 'netname': case 'xtickformat': case 'starttime': case 'endtime':
        this.header[event.kind] = event.kind.endsWith('time') ? event.t : event.value;
        break;
      case 'time':
        this.time = event.t;
        break;
      case 'estimate':
        this.addEstimate(event);
        break;
      case 'value': case 'display':
        this.addElement(event);
        break;
      case 'exit':
        this.exited = event.code;
        break;
      default:
        this.unknownLines++;
    }
    this.delta.changed = true;
  }

  addEstimate(e) {
    if (this.time === null) return;
    let s = this.series.get(e.name);
    if (!s) {
      if (this.series.size >= this.limits.maxMeasures) return;
      s = { type: e.type, points: new Map() };
      this.series.set(e.name, s);
    }
    s.points.set(this.time, [e.mean, e.low, e.high]);
    this.updates++;
    if (s.points.size > this.limits.maxPointsPerSeries) {
      this.thin(s);
      this.delta.replaced.add(e.name);
      this.delta.points.delete(e.name);
      return;
    }
    if (this.delta.replaced.has(e.name)) return;
    if (!this.delta.points.has(e.name)) this.delta.points.set(e.name, []);
    this.delta.points.get(e.name).push([this.time, e.mean, e.low, e.high]);
  }

  thin(series) {
    const xs = [...series.points.keys()].sort((a, b) => a - b);
    const last = xs[xs.length - 1];
    xs.forEach((x, i) => { if (i % 2 === 1 && x !== last) series.points.delete(x); });
  }

  addElement(e) {
    const key = e.name + '<' + e.type + (e.kind === 'display' ? ':Display' : '') + '>';
    if (!this.elements.has(key) && this.elements.size >= this.limits.maxMeasures) return;
    this.elements.set(key, { name: e.name, type: e.type, kind: e.kind, value: e.value, t: this.time });
    this.delta.elements.add(key);
  }

  // The largest relative half-width over the measures, each taken at its
  // latest sampling point with a mean other than zero: what is still open.
  relativeError() {
    let worst = null;
    for (const s of this.series.values()) {
      let lastX = -Infinity;
      let last = null;
      for (const [x, v] of s.points) if (x >= lastX) { lastX = x; last = v; }
      if (!last || last[0] === null || last[1] === null || last[2] === null || last[0] === 0) continue;
      const rel = Math.abs((last[2] - last[1]) / 2 / last[0]);
      if (worst === null || rel > worst) worst = rel;
    }
    return worst;
  }

  seriesPoints(name) {
    const s = this.series.get(name);
    return [...s.points.entries()].sort((a, b) => a[0] - b[0]).map(([x, v]) => [x, ...v]);
  }

  summary() {
    return { header: this.header, time: this.time, updates: this.updates, relativeError: this.relativeError(),
      exited: this.exited, unknownLines: this.unknownLines };
  }

  // Everything, for a page that joins late.
  snapshot() {
    const series = {};
    for (const [name, s] of this.series) series[name] = { type: s.type, points: this.seriesPoints(name) };
    return { ...this.summary(), series, elements: [...this.elements.values()] };
  }

  // What changed since the last call, or null when nothing did.
  takeDelta() {
    if (!this.delta.changed) return null;
    const points = {};
    for (const [name, list] of this.delta.points) points[name] = { type: this.series.get(name).type, points: list };
    const replaced = {};
    for (const name of this.delta.replaced) replaced[name] = { type: this.series.get(name).type, points: this.seriesPoints(name) };
    const elements = [...this.delta.elements].map((k) => this.elements.get(k));
    this.resetDelta();
    return { ...this.summary(), points, replaced, elements };
  }
}

module.exports = { parseLine, ResultModel };
