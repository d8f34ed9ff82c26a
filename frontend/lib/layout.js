'use strict';
// Lays out a net description as a graph with Graphviz `dot`: places become
// circles, transitions bars, arcs edges. The result holds the positions in
// page coordinates (y downwards), which the page draws itself. No text of
// the description reaches the DOT input: nodes are named by their index.
const { spawn } = require('child_process');

function netGraph(description) {
  const places = Array.isArray(description.places) ? description.places : [];
  const transitions = Array.isArray(description.transitions) ? description.transitions : [];
  const placeIndex = new Map();
  places.forEach((p, i) => { if (p && typeof p.name === 'string') placeIndex.set(p.name, i); });
  const arcs = [];
  transitions.forEach((t, ti) => {
    const ends = (list, input) => (Array.isArray(list) ? list : []).forEach((arc) => {
      if (!arc || !placeIndex.has(arc.place)) return;
      const weight = Number.isInteger(arc.multiplicity) ? arc.multiplicity : 1;
      arcs.push({ place: placeIndex.get(arc.place), transition: ti, input, weight });
    });
    ends(t && t.inputs, true);
    ends(t && t.outputs, false);
  });
  return {
    places: places.map((p) => String(p && p.name)),
    transitions: transitions.map((t) => ({ name: String(t && t.name), immediate: !!t && t.kind === 'immediate' })),
    measures: (Array.isArray(description.measures) ? description.measures : []).map((m) => String(m && m.name)),
    arcs,
  };
}

function toDot(graph) {
  const lines = ['digraph net {', 'rankdir=LR; nodesep=0.25; ranksep=0.9;',
    'node [label="", fixedsize=true];'];
  graph.places.forEach((_, i) => lines.push(`p${i} [shape=circle, width=0.45];`));
  graph.transitions.forEach((_, i) => lines.push(`t${i} [shape=box, width=0.12, height=0.45];`));
  for (const a of graph.arcs) lines.push(a.input ? `p${a.place} -> t${a.transition};` : `t${a.transition} -> p${a.place};`);
  lines.push('}');
  return lines.join('\n');
}

function runDot(dotText, { dotProgram = 'dot', timeoutMs, maxBytes }) {
  return new Promise((resolve, reject) => {
    const child = spawn(dotProgram, ['-Tjson'], { stdio: ['pipe', 'pipe', 'pipe'] });
    const chunks = [];
    let size = 0;
    let failed = null;
    const timer = setTimeout(() => { failed = 'Graphviz took too long'; child.kill('SIGKILL'); }, timeoutMs);
    child.stdout.on('data', (c) => {
      size += c.length;
      if (size > maxBytes) { failed = 'Graphviz output too large'; child.kill('SIGKILL'); } else chunks.push(c);
    });
    child.stderr.resume();
    child.on('error', (e) => { clearTimeout(timer); reject(new Error(`cannot run ${dotProgram}: ${e.message}`)); });
    child.on('close', (code) => {
      clearTimeout(timer);
      if (failed) return reject(new Error(failed));
      if (code !== 0) return reject(new Error(`${dotProgram} ended with status ${code}`));
      try { resolve(JSON.parse(Buffer.concat(chunks).toString('utf8'))); } catch (e) { reject(e); }
    });
    child.stdin.on('error', () => {});
    child.stdin.end(dotText);
  });
}

const point = (text) => text.split(',').map(Number);

// Graphviz JSON (points, y upwards, sizes in inches) to page coordinates.
function fromGraphviz(graph, gv) {
  const [, , width, height] = point(gv.bb);
  const flip = ([x, y]) => [x, height - y];
  const nodes = new Map();
  for (const o of gv.objects || []) {
    if (!/^[pt]\d+$/.test(o.name) || !o.pos) continue;
    const [x, y] = flip(point(o.pos));
    nodes.set(o.name, { x, y, w: Number(o.width) * 72, h: Number(o.height) * 72 });
  }
  const byGvid = new Map((gv.objects || []).map((o) => [o._gvid, o.name]));
  const edges = (gv.edges || []).map((e, i) => {
    // "e,x,y p1 p2 ...": the arrow tip and the spline's control points.
    let tip = null;
    const pts = [];
    for (const part of String(e.pos || '').split(' ')) {
      if (part.startsWith('e,')) tip = flip(point(part.slice(2)));
      else if (part.length && !part.startsWith('s,')) pts.push(flip(point(part)));
    }
    const arc = graph.arcs[i];
    return { from: byGvid.get(e.tail), to: byGvid.get(e.head), points: pts, tip, weight: arc ? arc.weight : 1 };
  });
  return {
    width, height,
    places: graph.places.map((name, i) => ({ name, ...nodes.get('p' + i) })),
    transitions: graph.transitions.map((t, i) => ({ ...t, ...nodes.get('t' + i) })),
    edges,
    measures: graph.measures,
  };
}

// A plain grid when Graphviz is missing: still every element, no arcs.
function gridLayout(graph) {
  const cols = Math.max(1, Math.ceil(Math.sqrt(graph.places.length + graph.transitions.length)));
  const cell = 90;
  const at = (i) => ({ x: (i % cols) * cell + cell / 2, y: Math.floor(i / cols) * cell + cell / 2 });
  const places = graph.places.map((name, i) => ({ name, ...at(i), w: 32, h: 32 }));
  const transitions = graph.transitions.map((t, i) => ({ ...t, ...at(graph.places.length + i), w: 9, h: 32 }));
  const rows = Math.ceil((graph.places.length + graph.transitions.length) / cols);
  return { width: cols * cell, height: rows * cell, places, transitions, edges: [], measures: graph.measures };
}

async function layoutDescription(description, options) {
  const graph = netGraph(description);
  try {
    return { ...fromGraphviz(graph, await runDot(toDot(graph), options)), engine: 'graphviz' };
  } catch (e) {
    return { ...gridLayout(graph), engine: 'grid', warning: e.message };
  }
}

module.exports = { netGraph, toDot, layoutDescription, gridLayout };
