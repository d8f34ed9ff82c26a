'use strict';
const test = require('node:test');
const assert = require('node:assert');
const net = require('net');
const P = require('../../lib/tokenGameProtocol');
const { TokenGameClient } = require('../../lib/tokenGameClient');
const { TokenGameSession } = require('../../lib/tokenGameSession');

test('replies are framed as each command needs', () => {
  assert.strictEqual(P.framers.line('ab\ncd'), 3);
  assert.strictEqual(P.framers.line('ab'), -1);
  assert.strictEqual(P.framers.byte('0'), 1);
  assert.strictEqual(P.framers.block('Places:\n\tA -> A\nTransitions:\n\n'), 30);
  assert.strictEqual(P.framers.block('Places:\n\tA -> A\n'), -1);
  assert.strictEqual(P.framers.blockThenLine('t1\nt2\n\nFired: t1#\n'), 18);
  assert.strictEqual(P.framers.blockThenLine('\nThanx!\n'), 8);
  assert.strictEqual(P.framers.lineThenLine('1,2\nFired: t#\n'), 14);
});

test('change, binding, net and breakpoint replies are read', () => {
  assert.deepStrictEqual(P.parseChange('PLACES:p1;p2;p1#TRANSITIONS:#BREAKPOINTS:0;2#\n'),
    { places: ['p1', 'p2', 'p1'], transitions: [], breakpoints: [0, 2] });
  assert.deepStrictEqual(P.parseChange('PLACES:#TRANSITIONS:t3;t4#BREAKPOINTS:#\n'), { places: [], transitions: ['t3', 't4'], breakpoints: [] });
  assert.deepStrictEqual(P.parseBinding('TRANSITION:t1#DELAY:-5#\n'), { transition: 't1', delayMs: -5 });
  assert.strictEqual(P.parseBinding('\n'), null);
  assert.deepStrictEqual(P.parseNet('Places:\n\tk -> A\n\tB -> B\nTransitions:\n\tT -> T\n\n'), { places: ['A', 'B'], transitions: ['T'] });
  assert.deepStrictEqual(P.parseBreakpoints('1;3\n'), [1, 3]);
  assert.deepStrictEqual(P.parseBreakpoints('\n'), []);
});

test('tokens are counted at the commas between tokens, not those inside a coloured token', () => {
  assert.strictEqual(P.countTokens(''), 0);
  assert.strictEqual(P.countTokens('3,4,4'), 3);
  assert.strictEqual(P.countTokens('{n="a,b"; s=1},{n=""; s=2}'), 2);
});

test('breakpoint lists that would break the command are refused', () => {
  assert.strictEqual(P.breakpointArgument([{ measure: 'Q', relation: '>=', value: ' 2.5' }, { measure: 'R', relation: '=', value: '0' }]), 'Q:>=:2.5;R:=:0');
  assert.strictEqual(P.breakpointArgument([]), '');
  for (const b of [{ measure: 'Q#', relation: '>', value: '1' }, { measure: 'a;b', relation: '>', value: '1' },
    { measure: 'Q', relation: '=>', value: '1' }, { measure: 'Q', relation: '>', value: '1#' }, { measure: '', relation: '>', value: '1' }]) {
    assert.throws(() => P.breakpointArgument([b]), Error, JSON.stringify(b));
  }
});

// A token game that answers from a script: reply(command) gives the bytes
// to send (in pieces, to test the framing), or null for no reply.
async function scripted(reply) {
  const received = [];
  const server = net.createServer((s) => {
    s.on('data', (c) => {
      const text = c.toString('latin1');
      const cmd = text.slice(0, text.lastIndexOf('#'));
      received.push(cmd);
      const answer = reply(cmd);
      if (answer === null) return;
      // Sent in two pieces, the second a little later.
      const cut = Math.floor(answer.length / 2);
      s.write(answer.slice(0, cut));
      setTimeout(() => s.write(answer.slice(cut)), 5);
    });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  const client = await TokenGameClient.connect({
    host: '127.0.0.1', port: server.address().port, deadline: Date.now() + 2000, stillWorth: () => true,
    limits: { maxReply: 1000, replyTimeoutMs: 500 },
  });
  return { client, received, close: () => { client.close(); server.close(); } };
}

const NET = 'Places:\n\tA -> A\n\tB -> B\nTransitions:\n\tT -> T\n\n';

test('a session loads the net, fires, and reads back exactly the places the change names', async (t) => {
  let fired = false;
  const game = await scripted((cmd) => {
    switch (cmd) {
      case 'NET': return NET;
      case 'PLACE A': return fired ? '\n' : '1,1\n';
      case 'PLACE B': return fired ? '1\n' : '\n';
      case 'FIRELIST': return fired ? '\n' : 'T\n';
      case 'TIME': return fired ? '00:00:03@01/01/0001\n' : '00:00:00@01/01/0001\n';
      case 'BREAKS': return '\n';
      case 'SETBREAKS Q:>=:1': return '\n';
      case 'FIRE T': fired = true; return 'PLACES:A;B#TRANSITIONS:#BREAKPOINTS:0#\n';
      default: return null;
    }
  });
  t.after(game.close);
  const s = new TokenGameSession(game.client, { transcriptEntries: 100 });
  await s.load();
  assert.deepStrictEqual(s.state.places, { A: { content: '1,1', tokens: 2 }, B: { content: '', tokens: 0 } });
  assert.deepStrictEqual(s.state.fireList, ['T']);
  assert.strictEqual(s.state.clock, '00:00:00@01/01/0001');
  await s.setBreaks([{ measure: 'Q', relation: '>=', value: '1' }]);
  assert.deepStrictEqual(s.state.triggered, []);
  await s.fire('T');
  assert.deepStrictEqual(s.state.places, { A: { content: '', tokens: 0 }, B: { content: '1', tokens: 1 } });
  assert.strictEqual(s.state.clock, '00:00:03@01/01/0001');
  assert.deepStrictEqual(s.state.triggered, [0]);
  assert.deepStrictEqual(s.state.fireList, []);
  assert.deepStrictEqual(game.received.slice(-4), ['FIRE T', 'PLACE A', 'PLACE B', 'TIME']);
  assert.strictEqual(s.transcript.at(-4).reply, 'PLACES:A;B#TRANSITIONS:#BREAKPOINTS:0#\n');
  // With no event AUTOFIRE would get no reply: it is not sent at all.
  assert.strictEqual(await s.autofire(), null);
  assert.ok(!game.received.includes('AUTOFIRE'));
  await assert.rejects(s.fire('NotInNet'));
  await assert.rejects(s.place('A#B'));
});

test('the single-step dialogue follows every answer with the next step until Thanx!', async (t) => {
  let answers = -1;   // answers inside the dialogue; the fourth ends it
  const next = () => (++answers < 4 ? 'Fired: T#\n' : 'Thanx!\n');
  const game = await scripted((cmd) => {
    const inDialogue = answers >= 0 && answers < 4;
    if (cmd === 'NET') return NET;
    if (cmd === 'PLACE A') return inDialogue ? '1\n' + next() : '1\n';
    if (cmd === 'PLACE B') return '\n';
    if (cmd === 'FIRELIST') return inDialogue ? 'T\nU\n\n' + next() : 'T\n';
    if (cmd === 'TIME') return '00:00:00@01/01/0001\n';
    if (cmd === 'BREAKS') return '\n';
    if (cmd === 'SINGLESTEP' || cmd === 'NEXT') return next();
    return null;
  });
  t.after(game.close);
  const s = new TokenGameSession(game.client, { transcriptEntries: 100 });
  await s.load();
  await s.singleStep('start');
  assert.deepStrictEqual(s.state.singleStep, { steps: 1, lastAnswer: null });
  assert.strictEqual(s.state.lastFired, 'T');
  await assert.rejects(s.autofire(), /single-step/);
  await s.singleStep('place', 'A');
  assert.deepStrictEqual(s.state.singleStep.lastAnswer, { place: 'A', content: '1' });
  await s.singleStep('firelist');
  assert.deepStrictEqual(s.state.singleStep.lastAnswer, { fireList: ['T', 'U'] });
  await s.singleStep('step');
  assert.strictEqual(s.state.singleStep.steps, 4);
  await s.singleStep('step');   // Thanx!: the dialogue is over, the marking read again
  assert.strictEqual(s.state.singleStep, null);
  assert.deepStrictEqual(game.received.slice(-5), ['NEXT', 'PLACE A', 'PLACE B', 'FIRELIST', 'TIME']);
  await assert.rejects(s.singleStep('step'), /no single-step dialogue/);
});

test('a token game that does not answer, or answers without end, ends the connection', async (t) => {
  const silent = await scripted((cmd) => (cmd === 'TIME' ? null : 'x'.repeat(2000)));
  t.after(silent.close);
  const closed = new Promise((r) => silent.client.on('closed', r));
  await assert.rejects(silent.client.request('TIME', 'line'), /no reply to TIME/);
  assert.match((await closed).message, /no reply/);
  await assert.rejects(silent.client.request('PLACE A', 'line'), /closed/);
  const flood = await scripted(() => 'x'.repeat(2000));
  t.after(flood.close);
  await assert.rejects(flood.client.request('PLACE A', 'line'), /longer than 1000 bytes/);
});
