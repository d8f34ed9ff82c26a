'use strict';
// One run of a simulator program: the child process, its console output,
// and the result stream it sends to a port this run listens on.
const fs = require('fs');
const net = require('net');
const path = require('path');
const { spawn } = require('child_process');
const { EventEmitter } = require('events');
const { LineSplitter } = require('./lineSplitter');
const { parseLine, ResultModel } = require('./resultStream');

class SimulationRun extends EventEmitter {
  // program: absolute path; args: the mode's arguments; cwd: the working
  // folder; label: what the page calls the program and its description.
  constructor({ program, args, cwd, mode, limits, label = {} }) {
    super();
    this.program = program;
    this.label = label;
    this.baseArgs = args;
    this.cwd = cwd;
    this.mode = mode;
    this.limits = limits;
    this.results = new ResultModel(limits);
    this.console = [];
    this.consoleSeq = 0;
    this.state = 'starting';
    this.exit = null;
    this.startedAt = Date.now();
    this.streamConnections = 0;
  }

  // Listens for the result stream on a free port of 127.0.0.1 (the address
  // makes the simulator use TCP), then starts the program.
  async start() {
    this.listener = net.createServer((socket) => this.acceptStream(socket));
    await new Promise((resolve, reject) => {
      this.listener.once('error', reject);
      this.listener.listen(0, '127.0.0.1', resolve);
    });
    this.port = this.listener.address().port;
    this.args = [...this.baseArgs, '--resport', `127.0.0.1:${this.port}`];
    if (this.baseArgs.includes('-l')) fs.mkdirSync(path.join(this.cwd, 'Log'), { recursive: true });
    this.child = spawn(this.program, this.args, { cwd: this.cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    this.pid = this.child.pid;
    const out = new LineSplitter((l) => this.consoleLine('out', l), this.limits.consoleLine);
    const err = new LineSplitter((l) => this.consoleLine('err', l), this.limits.consoleLine);
    this.child.stdout.on('data', (c) => out.push(c));
    this.child.stderr.on('data', (c) => err.push(c));
    this.child.on('error', (e) => {
      // A program that cannot be started may end without 'close'.
      this.consoleLine('err', `cannot start ${this.program}: ${e.message}`);
      setImmediate(() => this.finished(null, null));
    });
    this.child.on('close', (code, signal) => {
      out.end();
      err.end();
      this.finished(code, signal);
    });
    this.state = 'running';
    this.emit('state');
  }

  // One connection: the simulator's. Any later one is refused.
  acceptStream(socket) {
    if (this.streamConnections++ > 0) {
      socket.destroy();
      return;
    }
    this.listener.close();
    const lines = new LineSplitter((l) => {
      this.results.add(parseLine(l));
      this.emit('results');
    }, this.limits.maxLine);
    socket.on('data', (c) => lines.push(c));
    socket.on('end', () => lines.end());
    socket.on('error', () => {});
    this.streamSocket = socket;
  }

  consoleLine(stream, text) {
    const entry = { n: ++this.consoleSeq, s: stream, t: text };
    this.console.push(entry);
    if (this.console.length > this.limits.consoleLines) this.console.shift();
    this.emit('console', entry);
  }

  finished(code, signal) {
    if (this.state === 'ended') return;
    this.state = 'ended';
    this.exit = { code, signal };
    this.endedAt = Date.now();
    if (this.listener) this.listener.close();
    this.emit('state');
    this.emit('ended');
  }

  get running() {
    return this.state !== 'ended';
  }

  // Ends the program as its own stop signal does (results so far are
  // written); a program that does not end within the grace time is killed.
  stop(graceMs = 5000) {
    if (!this.child || this.state === 'ended') return;
    this.child.kill('SIGTERM');
    const timer = setTimeout(() => { if (this.state !== 'ended') this.child.kill('SIGKILL'); }, graceMs);
    timer.unref();
  }

  // results.log of this run: written in the working folder after the start.
  readResults() {
    const file = path.join(this.cwd, 'results.log');
    try {
      const st = fs.statSync(file);
      if (!st.isFile() || st.mtimeMs < this.startedAt - 1000 || st.size > this.limits.resultsLogBytes) return null;
      return fs.readFileSync(file, 'latin1');
    } catch {
      return null;
    }
  }

  describe() {
    return {
      state: this.state, mode: this.mode, program: this.program, programId: this.label.programId || null,
      description: this.label.description || null, cwd: this.cwd, args: this.args || this.baseArgs,
      pid: this.pid, port: this.port, startedAt: this.startedAt, endedAt: this.endedAt || null, exit: this.exit,
    };
  }
}

module.exports = { SimulationRun };
