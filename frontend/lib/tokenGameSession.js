'use strict';
// What the page shows of a token game, kept up to date by the commands it
// sends: the marking, the fire list, the clock, the breakpoints and the
// transcript of every command and reply.
const { EventEmitter } = require('events');
const P = require('./tokenGameProtocol');

class TokenGameSession extends EventEmitter {
  constructor(client, { transcriptEntries }) {
    super();
    this.client = client;
    this.transcriptEntries = transcriptEntries;
    this.transcript = [];
    this.seq = 0;
    this.state = {
      connected: true, places: {}, transitions: [], fireList: [], clock: '', lastFired: null,
      changedPlaces: [], nextEvent: null, breakpoints: [], triggered: [], singleStep: null,
      selectedPlace: null, error: null,
    };
    client.on('closed', (e) => {
      this.state.connected = false;
      this.state.error = e.message;
      this.changed();
    });
    client.on('unexpected', (bytes) => this.log('(unexpected)', bytes));
  }

  log(command, reply) {
    const entry = { n: ++this.seq, command, reply };
    this.transcript.push(entry);
    if (this.transcript.length > this.transcriptEntries) this.transcript.shift();
    this.emit('transcript', entry);
  }

  changed() {
    this.emit('state', this.state);
  }

  async send(command, framing) {
    const reply = await this.client.request(command, framing);
    this.log(command + '#', reply);
    return reply;
  }

  // The whole picture: names, every place's content, fire list, clock.
  async load() {
    const netReply = await this.send('NET', 'block');
    const parsed = P.parseNet(netReply);
    this.state.transitions = parsed.transitions;
    this.state.places = {};
    for (const name of parsed.places) this.state.places[name] = { content: '', tokens: 0 };
    await this.refreshPlaces(parsed.places);
    await this.refreshFireList();
    await this.refreshClock();
    this.state.triggered = P.parseBreakpoints(await this.send('BREAKS', 'line'));
    this.changed();
  }

  async refreshPlaces(names) {
    for (const name of new Set(names)) {
      if (!(name in this.state.places) || !P.isSendable(name)) continue;
      const content = (await this.send('PLACE ' + name, 'line')).replace(/\n$/, '');
      this.state.places[name] = { content, tokens: P.countTokens(content) };
    }
  }

  async refreshFireList() {
    const reply = (await this.send('FIRELIST', 'line')).replace(/\n$/, '');
    this.state.fireList = reply === '' ? [] : reply.split(';');
  }

  async refreshClock() {
    this.state.clock = (await this.send('TIME', 'line')).replace(/\n$/, '');
  }

  // After AUTOFIRE and FIRE: the places the change message names are read
  // again, the fire list and triggered breakpoints come from the message.
  async applyChange(reply, fired) {
    const change = P.parseChange(reply);
    this.state.lastFired = fired;
    this.state.changedPlaces = change.places;
    this.state.fireList = change.transitions;
    this.state.triggered = change.breakpoints;
    this.state.nextEvent = null;
    await this.refreshPlaces(change.places);
    await this.refreshClock();
    this.changed();
    return change;
  }

  requireIdle() {
    if (this.state.singleStep) throw new Error('finish the single-step dialogue first');
  }

  // AUTOFIRE sends nothing back when no event exists, which the fire list
  // tells beforehand (it is empty exactly then); the command is then not
  // sent. The reply does not name the transition that fired.
  async autofire() {
    this.requireIdle();
    if (this.state.fireList.length === 0) return this.nothingFires();
    return this.applyChange(await this.send('AUTOFIRE', 'line'), null);
  }

  nothingFires() {
    this.state.error = 'No event: nothing can fire.';
    this.changed();
    this.state.error = null;
    return null;
  }

  async fire(name) {
    this.requireIdle();
    if (!this.state.transitions.includes(name) || !P.isSendable(name)) throw new Error('not a transition of the net');
    return this.applyChange(await this.send('FIRE ' + name, 'line'), name);
  }

  async autotrans() {
    this.requireIdle();
    this.state.nextEvent = P.parseBinding(await this.send('AUTOTRANS', 'line'));
    this.changed();
  }

  async time() {
    this.requireIdle();
    await this.refreshClock();
    this.changed();
  }

  async place(name) {
    this.requireIdle();
    if (!(name in this.state.places)) throw new Error('not a place of the net');
    await this.refreshPlaces([name]);
    this.state.selectedPlace = name;
    this.changed();
  }

  async replication() {
    this.requireIdle();
    return this.send('REPLICATION', 'byte');
  }

  async setBreaks(list) {
    this.requireIdle();
    const argument = P.breakpointArgument(list);
    this.state.breakpoints = list.map((b) => ({ measure: b.measure, relation: b.relation, value: String(b.value).trim() }));
    this.state.triggered = P.parseBreakpoints(await this.send('SETBREAKS ' + argument, 'line'));
    this.changed();
  }

  async breaks() {
    this.requireIdle();
    this.state.triggered = P.parseBreakpoints(await this.send('BREAKS', 'line'));
    this.changed();
  }

  // The SINGLESTEP dialogue: every answer the front end gives fires the
  // next event, until the simulator says "Thanx!" (no event, or EXIT).
  async singleStep(action, name) {
    let reply;
    if (action === 'start') {
      this.requireIdle();
      reply = await this.send('SINGLESTEP', 'line');
      this.state.singleStep = { steps: 0, lastAnswer: null };
    } else if (!this.state.singleStep) {
      throw new Error('no single-step dialogue is open');
    } else if (action === 'step') {
      reply = await this.send('NEXT', 'line');
    } else if (action === 'place') {
      if (!(name in this.state.places) || !P.isSendable(name)) throw new Error('not a place of the net');
      const both = await this.send('PLACE ' + name, 'lineThenLine');
      const cut = both.indexOf('\n') + 1;
      const content = both.slice(0, cut - 1);
      this.state.places[name] = { content, tokens: P.countTokens(content) };
      this.state.singleStep.lastAnswer = { place: name, content };
      reply = both.slice(cut);
    } else if (action === 'firelist') {
      const both = await this.send('FIRELIST', 'blockThenLine');
      const cut = P.framers.block(both);
      this.state.singleStep.lastAnswer = { fireList: both.slice(0, cut).split('\n').filter((x) => x) };
      reply = both.slice(cut);
    } else if (action === 'end') {
      reply = await this.send('EXIT', 'line');
    } else {
      throw new Error('unknown single-step action');
    }
    const fired = /^Fired: (.*)#\n$/.exec(reply);
    if (fired) {
      this.state.singleStep.steps++;
      this.state.lastFired = fired[1];
      this.state.changedPlaces = [];
      this.state.nextEvent = null;
      this.changed();
      return;
    }
    // "Thanx!": the dialogue is over; read the whole marking again.
    this.state.singleStep = null;
    await this.refreshPlaces(Object.keys(this.state.places));
    await this.refreshFireList();
    await this.refreshClock();
    this.changed();
  }

  async exit() {
    if (this.client.closed) return;
    if (this.state.singleStep) await this.send('EXIT', 'line');
    await this.send('EXIT', 'none');
    this.state.singleStep = null;
  }

  snapshot() {
    return { state: this.state, transcript: this.transcript };
  }
}

module.exports = { TokenGameSession };
