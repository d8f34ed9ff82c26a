'use strict';
// One connection to the token game. Commands are sent one at a time: the
// next is written only after the reply to the previous one is complete,
// because the simulator takes each read as one command.
const net = require('net');
const { EventEmitter } = require('events');
const { framers } = require('./tokenGameProtocol');

class TokenGameClient extends EventEmitter {
  constructor(socket, { maxReply, replyTimeoutMs }) {
    super();
    this.socket = socket;
    this.maxReply = maxReply;
    this.replyTimeoutMs = replyTimeoutMs;
    this.buffer = '';
    this.pending = null;   // { framer, resolve, reject, timer }
    this.queue = Promise.resolve();
    this.closed = false;
    socket.setNoDelay(true);
    socket.on('data', (chunk) => this.received(chunk.toString('latin1')));
    socket.on('close', () => this.fail(new Error('the token game closed the connection')));
    socket.on('error', (e) => this.fail(new Error('token game connection: ' + e.message)));
  }

  // Connects to host:port, trying again while the port is not open yet,
  // until `deadline` (ms since the epoch) or until `stillWorth()` is false.
  static async connect({ host, port, deadline, stillWorth, limits }) {
    for (;;) {
      try {
        const socket = await new Promise((resolve, reject) => {
          const s = net.connect({ host, port });
          s.once('connect', () => { s.removeAllListeners('error'); resolve(s); });
          s.once('error', (e) => { s.destroy(); reject(e); });
        });
        return new TokenGameClient(socket, limits);
      } catch (e) {
        if (Date.now() > deadline || !stillWorth()) throw new Error(`cannot connect to the token game on ${host}:${port}: ${e.message}`);
        await new Promise((r) => setTimeout(r, 200));
      }
    }
  }

  received(text) {
    if (this.closed) return;
    this.buffer += text;
    if (this.buffer.length > this.maxReply) {
      this.fail(new Error(`a reply longer than ${this.maxReply} bytes`));
      return;
    }
    this.deliver();
  }

  deliver() {
    if (!this.pending) return;
    const n = this.pending.framer(this.buffer);
    if (n < 0) return;
    const reply = this.buffer.slice(0, n);
    this.buffer = this.buffer.slice(n);
    const { resolve, timer } = this.pending;
    clearTimeout(timer);
    this.pending = null;
    resolve(reply);
  }

  fail(error) {
    if (this.closed) return;
    this.closed = true;
    if (this.pending) {
      clearTimeout(this.pending.timer);
      this.pending.reject(error);
      this.pending = null;
    }
    this.socket.destroy();
    this.emit('closed', error);
  }

  // Sends `text` + "#" and resolves with the reply framed by `framing`
  // (a name of `framers`). Requests are queued.
  request(text, framing) {
    const run = () => new Promise((resolve, reject) => {
      if (this.closed) return reject(new Error('the token game connection is closed'));
      if (this.buffer.length) {
        this.emit('unexpected', this.buffer);
        this.buffer = '';
      }
      const timer = setTimeout(() => this.fail(new Error(`no reply to ${text.slice(0, 40)} within ${this.replyTimeoutMs / 1000} s`)), this.replyTimeoutMs);
      this.pending = { framer: framers[framing], resolve, reject, timer };
      this.socket.write(Buffer.from(text + '#', 'latin1'));
      this.deliver();
    });
    const result = this.queue.then(run, run);
    this.queue = result.catch(() => {});
    return result;
  }

  close() {
    this.fail(new Error('closed by the front end'));
  }
}

module.exports = { TokenGameClient };
