'use strict';
// The token game's command protocol on the client side: how each reply is
// framed and what it means. Every command is a text ended by "#"; the
// simulator answers some commands with one line, NET with a block ended by
// an empty line, REPLICATION with a single byte, EXIT with nothing.

// Framers: given the bytes received so far, the length of one complete
// reply, or -1 while it is incomplete.
const framers = {
  none: () => 0,
  line: (buf) => { const i = buf.indexOf('\n'); return i < 0 ? -1 : i + 1; },
  byte: (buf) => (buf.length >= 1 ? 1 : -1),
  // Lines up to and including the first empty line.
  block: (buf) => {
    if (buf.startsWith('\n')) return 1;
    const i = buf.indexOf('\n\n');
    return i < 0 ? -1 : i + 2;
  },
  // One line, then a block (SINGLESTEP answer to FIRELIST): the list, then
  // the next step's line.
  blockThenLine: (buf) => {
    const b = framers.block(buf);
    if (b < 0) return -1;
    const l = framers.line(buf.slice(b));
    return l < 0 ? -1 : b + l;
  },
  lineThenLine: (buf) => {
    const a = framers.line(buf);
    if (a < 0) return -1;
    const b = framers.line(buf.slice(a));
    return b < 0 ? -1 : a + b;
  },
};

const stripEnd = (text) => text.replace(/\n$/, '');
const names = (text) => (text === '' ? [] : text.split(';'));

// "PLACES:a;b#TRANSITIONS:t1;t2#BREAKPOINTS:0;2#"
function parseChange(reply) {
  const out = { places: [], transitions: [], breakpoints: [] };
  for (const part of stripEnd(reply).split('#')) {
    if (part.startsWith('PLACES:')) out.places = names(part.slice(7));
    else if (part.startsWith('TRANSITIONS:')) out.transitions = names(part.slice(12));
    else if (part.startsWith('BREAKPOINTS:')) out.breakpoints = names(part.slice(12)).map(Number).filter(Number.isInteger);
  }
  return out;
}

// "TRANSITION:t#DELAY:1500#" or an empty line when there is no event.
function parseBinding(reply) {
  const m = /^TRANSITION:(.*)#DELAY:(-?\d+)#$/.exec(stripEnd(reply));
  return m ? { transition: m[1], delayMs: Number(m[2]) } : null;
}

// The NET reply: "Places:", "\tkey -> name" lines, "Transitions:", ...
function parseNet(reply) {
  const net = { places: [], transitions: [] };
  let list = null;
  for (const line of reply.split('\n')) {
    if (line === 'Places:') list = net.places;
    else if (line === 'Transitions:') list = net.transitions;
    else if (list && line.startsWith('\t')) {
      const arrow = line.indexOf(' -> ');
      list.push(arrow < 0 ? line.slice(1) : line.slice(arrow + 4));
    }
  }
  return net;
}

function parseBreakpoints(reply) {
  return names(stripEnd(reply)).map(Number).filter(Number.isInteger);
}

// Tokens of a place from its content: the tokens' texts joined by ",".
// Commas inside a coloured token's braces or quotes do not separate. An
// empty content is an empty place (a place of plain tokens, whose texts are
// empty, cannot be told apart from it when it holds one token).
function countTokens(content) {
  if (content === '') return 0;
  let count = 1;
  let depth = 0;
  let quoted = false;
  for (const ch of content) {
    if (ch === '"') quoted = !quoted;
    else if (quoted) continue;
    else if (ch === '{') depth++;
    else if (ch === '}') depth = Math.max(0, depth - 1);
    else if (ch === ',' && depth === 0) count++;
  }
  return count;
}

// A name or a breakpoint field that can be sent inside a command: no "#"
// (which ends a command), no line ends, no NUL, bounded length.
function isSendable(text, forbidden = '') {
  return typeof text === 'string' && text.length > 0 && text.length <= 1000 &&
    !/[#\r\n\0]/.test(text) && ![...forbidden].some((c) => text.includes(c));
}

const RELATIONS = ['=', '<', '>', '<=', '>='];
const THRESHOLD = /^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d{1,3})?$/;

// The argument of SETBREAKS from a list of {measure, relation, value}.
function breakpointArgument(list) {
  if (!Array.isArray(list) || list.length > 100) throw new Error('at most 100 breakpoints');
  return list.map((b, i) => {
    if (!b || !isSendable(b.measure, ';:')) throw new Error(`breakpoint ${i + 1}: the measure name is missing or holds # ; :`);
    if (!RELATIONS.includes(b.relation)) throw new Error(`breakpoint ${i + 1}: the relation must be one of ${RELATIONS.join(' ')}`);
    const value = String(b.value).trim();
    if (!THRESHOLD.test(value)) throw new Error(`breakpoint ${i + 1}: the threshold is not a number`);
    return `${b.measure}:${b.relation}:${value}`;
  }).join(';');
}

module.exports = { framers, parseChange, parseBinding, parseNet, parseBreakpoints, countTokens, isSendable, breakpointArgument, RELATIONS };
