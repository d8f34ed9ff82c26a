'use strict';
// One uPlot chart per measure: the mean as a line, the confidence interval
// as a band, against model time. Points at a time already known replace
// the old ones (a transient run sends every sampling point again).
/* exported Plots */
class Plots {
  constructor(container) {
    this.container = container;
    this.axisLabel = 'model time (s)';
    this.charts = new Map();   // name -> { points: Map, plot, el, latest }
    this.pending = false;
  }

  // XTICKFORMAT 3: the start was a date; times count from 1 January of year 1.
  setTimeFormat(format) {
    this.axisLabel = format === '3' ? 'model time (s since 01/01/0001)' : 'model time (s)';
  }

  clear() {
    for (const c of this.charts.values()) c.plot.destroy();
    this.charts.clear();
    this.container.textContent = '';
  }

  chart(name, type) {
    let c = this.charts.get(name);
    if (c) return c;
    const el = document.createElement('div');
    el.className = 'plot';
    el.dataset.measure = name;
    const title = document.createElement('div');
    title.className = 'title';
    title.textContent = `${name}  (${type})`;
    const latest = document.createElement('div');
    latest.className = 'latest';
    el.append(title, latest);
    this.container.append(el);
    const opts = {
      width: Math.max(300, el.clientWidth - 10), height: 190,
      scales: { x: { time: false } },
      axes: [{ label: this.axisLabel }, {}],
      series: [
        { label: 't' },
        { label: 'mean', stroke: '#2f6fd0', width: 2, points: { size: 4 } },
        { label: 'low', stroke: 'rgba(47,111,208,0.35)', width: 1 },
        { label: 'high', stroke: 'rgba(47,111,208,0.35)', width: 1 },
      ],
      bands: [{ series: [3, 2], fill: 'rgba(47,111,208,0.15)' }],
      legend: { show: false },
    };
    c = { points: new Map(), plot: new uPlot(opts, [[], [], [], []], el), el, latest };
    this.charts.set(name, c);
    return c;
  }

  fitWidth() {
    for (const c of this.charts.values()) c.plot.setSize({ width: Math.max(300, c.el.clientWidth - 10), height: 190 });
  }

  // points: [[x, mean, low, high], ...]; replace: the whole series.
  add(name, type, points, replace) {
    const c = this.chart(name, type);
    if (replace) c.points.clear();
    for (const [x, m, l, h] of points) c.points.set(x, [m, l, h]);
    this.schedule();
  }

  schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => { this.pending = false; this.draw(); });
  }

  draw() {
    for (const c of this.charts.values()) {
      const xs = [...c.points.keys()].sort((a, b) => a - b);
      const col = (i) => xs.map((x) => c.points.get(x)[i]);
      c.plot.setData([xs, col(0), col(1), col(2)]);
      c.el.dataset.points = String(xs.length);
      const intervals = xs.filter((x) => { const [, l, h] = c.points.get(x); return l !== null && h !== null && h > l; }).length;
      c.el.dataset.intervals = String(intervals);
      if (xs.length) {
        const x = xs[xs.length - 1];
        const [m, l, h] = c.points.get(x);
        c.latest.textContent = `t=${x}: mean ${fmt(m)}  [${fmt(l)}; ${fmt(h)}]  · ${xs.length} points`;
      }
    }
  }
}

function fmt(v) {
  return v === null || v === undefined ? 'n/a' : Number(v).toPrecision(5);
}
