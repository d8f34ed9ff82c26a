'use strict';
// Draws the net from its layout: places as circles with their token
// counts, transitions as bars, arcs as the splines Graphviz computed.
/* exported NetGraph */
const SVG_NS = 'http://www.w3.org/2000/svg';

function svg(tag, attrs, parent) {
  const el = document.createElementNS(SVG_NS, tag);
  for (const [k, v] of Object.entries(attrs || {})) el.setAttribute(k, v);
  if (parent) parent.append(el);
  return el;
}

class NetGraph {
  constructor(container, { onPlace, onTransition }) {
    this.container = container;
    this.onPlace = onPlace;
    this.onTransition = onTransition;
    this.places = new Map();
    this.transitions = new Map();
    this.arcs = new Map();   // transition name -> sorted unique place names
  }

  render(layout) {
    this.container.textContent = '';
    this.places.clear();
    this.transitions.clear();
    this.arcs.clear();
    this.measureNames = layout.measures || [];
    const margin = 20;
    const w = layout.width + 2 * margin;
    const h = layout.height + 2 * margin;
    const root = svg('svg', { width: w, height: h, viewBox: `0 0 ${w} ${h}`, id: 'net-svg' }, this.container);
    const defs = svg('defs', {}, root);
    const marker = svg('marker', { id: 'arrow', viewBox: '0 0 10 10', refX: 9, refY: 5, markerWidth: 6, markerHeight: 6, orient: 'auto' }, defs);
    svg('path', { d: 'M0,0 L10,5 L0,10 z', fill: '#8a93a6' }, marker);
    const g = svg('g', { transform: `translate(${margin},${margin})` }, root);
    const nodeName = (id) => (id && id[0] === 'p' ? layout.places[Number(id.slice(1))].name : layout.transitions[Number(id.slice(1))].name);
    for (const e of layout.edges) {
      if (!e.points.length) continue;
      let d = `M${e.points[0].join(',')}`;
      // A spline: a start point, then three points per cubic segment.
      for (let i = 1; i + 2 < e.points.length; i += 3) {
        d += ` C${e.points[i].join(',')} ${e.points[i + 1].join(',')} ${e.points[i + 2].join(',')}`;
      }
      if (e.tip) d += ` L${e.tip.join(',')}`;
      svg('path', { d, class: 'edge', 'marker-end': 'url(#arrow)' }, g);
      const t = e.from[0] === 't' ? nodeName(e.from) : nodeName(e.to);
      const p = e.from[0] === 'p' ? nodeName(e.from) : nodeName(e.to);
      if (!this.arcs.has(t)) this.arcs.set(t, new Set());
      this.arcs.get(t).add(p);
    }
    for (const p of layout.places) {
      if (p.x === undefined) continue;
      const pg = svg('g', { class: 'place', 'data-name': p.name }, g);
      svg('circle', { cx: p.x, cy: p.y, r: p.w / 2 }, pg);
      const count = svg('text', { class: 'tokens', x: p.x, y: p.y }, pg);
      const label = svg('text', { class: 'label', x: p.x, y: p.y + p.h / 2 + 10 }, pg);
      label.textContent = p.name;
      svg('title', {}, pg).textContent = p.name;
      pg.addEventListener('click', () => this.onPlace(p.name));
      this.places.set(p.name, { g: pg, count });
    }
    for (const t of layout.transitions) {
      if (t.x === undefined) continue;
      const tg = svg('g', { class: 'transition' + (t.immediate ? ' immediate' : ''), 'data-name': t.name }, g);
      svg('rect', { x: t.x - t.w / 2, y: t.y - t.h / 2, width: t.w, height: t.h }, tg);
      const label = svg('text', { class: 'label', x: t.x, y: t.y - t.h / 2 - 4 }, tg);
      label.textContent = t.name;
      svg('title', {}, tg).textContent = `${t.name}: click to fire`;
      tg.addEventListener('click', () => this.onTransition(t.name));
      this.transitions.set(t.name, { g: tg });
    }
  }

  // The transitions whose places are exactly the places a change message
  // names: which transition AUTOFIRE fired (the reply does not say).
  transitionsTouching(placeNames) {
    const wanted = [...new Set(placeNames)].sort().join('\n');
    const found = [];
    for (const [t, set] of this.arcs) if ([...set].sort().join('\n') === wanted) found.push(t);
    return found;
  }

  update(state, firedCandidates) {
    for (const [name, p] of this.places) {
      const info = state.places[name];
      p.count.textContent = info ? String(info.tokens) : '?';
      p.g.dataset.tokens = info ? String(info.tokens) : '';
      p.g.classList.toggle('changed', state.changedPlaces.includes(name));
      p.g.classList.toggle('selected', state.selectedPlace === name);
    }
    const next = state.nextEvent ? state.nextEvent.transition : null;
    for (const [name, t] of this.transitions) {
      t.g.classList.toggle('enabled', state.fireList.includes(name));
      t.g.classList.toggle('fired', firedCandidates.includes(name));
      t.g.classList.toggle('next', next === name);
    }
  }
}
