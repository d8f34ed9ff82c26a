'use strict';
// The front end's HTTP server: the page, its static files, the JSON
// operations, and the event stream that carries console lines, estimates
// and token-game state to the page.
const fs = require('fs');
const http = require('http');
const net = require('net');
const path = require('path');
const { EventHub } = require('./eventHub');
const { Paths, PathError } = require('./paths');
const { buildArguments, describeModes, OptionError } = require('./modes');
const { SimulationRun } = require('./simulationRun');
const { TokenGameClient } = require('./tokenGameClient');
const { TokenGameSession } = require('./tokenGameSession');
const { layoutDescription } = require('./layout');
const { resultsToCsv, resultsToRows } = require('./resultsLog');

const PUBLIC = path.join(__dirname, '..', 'public');
const UPLOT = path.join(__dirname, '..', 'node_modules', 'uplot', 'dist');
const STATIC = {
  '/': [path.join(PUBLIC, 'index.html'), 'text/html; charset=utf-8'],
  '/app.js': [path.join(PUBLIC, 'app.js'), 'text/javascript'],
  '/graph.js': [path.join(PUBLIC, 'graph.js'), 'text/javascript'],
  '/plots.js': [path.join(PUBLIC, 'plots.js'), 'text/javascript'],
  '/style.css': [path.join(PUBLIC, 'style.css'), 'text/css'],
  '/vendor/uPlot.iife.min.js': [path.join(UPLOT, 'uPlot.iife.min.js'), 'text/javascript'],
  '/vendor/uPlot.min.css': [path.join(UPLOT, 'uPlot.min.css'), 'text/css'],
};

class UserError extends Error {}

function portInUse(port) {
  return new Promise((resolve) => {
    const s = net.connect({ host: '127.0.0.1', port });
    s.once('connect', () => { s.destroy(); resolve(true); });
    s.once('error', () => resolve(false));
  });
}

class App {
  // options: repoRoot, buildDir, workRoots, defaultFolder, limits,
  // tokenGamePort (2020), extraProgramDirs, dotProgram.
  constructor(options) {
    this.options = options;
    this.limits = options.limits;
    this.paths = new Paths(options);
    this.hub = new EventHub({ maxClients: this.limits.eventClients });
    this.run = null;
    this.session = null;
    this.tgQueue = Promise.resolve();
    this.layouts = new Map();
    this.flushTimer = setInterval(() => this.flushResults(), 250);
    this.flushTimer.unref();
  }

  listen(host, port) {
    this.server = http.createServer((req, res) => this.handle(req, res).catch((e) => this.fail(res, e)));
    this.allowedHosts = null;
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, host, () => {
        const actual = this.server.address().port;
        this.allowedHosts = new Set([`${host}:${actual}`, `127.0.0.1:${actual}`, `localhost:${actual}`, `[::1]:${actual}`]);
        resolve(actual);
      });
    });
  }

  async close() {
    clearInterval(this.flushTimer);
    if (this.run && this.run.running) {
      const ended = new Promise((r) => this.run.once('ended', r));
      if (this.session) await this.session.exit().catch(() => {});
      this.run.stop(2000);
      await Promise.race([ended, new Promise((r) => setTimeout(r, 4000))]);
    }
    this.hub.closeAll();
    if (this.server) await new Promise((r) => this.server.close(r));
  }

  // For the process's last moment: a program still running is killed, so
  // that no simulator (and no listener on the token-game port) outlives us.
  killNow() {
    if (this.run && this.run.running && this.run.child) this.run.child.kill('SIGKILL');
  }

  fail(res, e) {
    const known = e instanceof UserError || e instanceof PathError || e instanceof OptionError;
    if (!known) console.error(e);
    if (res.headersSent) { res.end(); return; }
    this.json(res, known ? 400 : 500, { error: e.message });
  }

  json(res, status, body) {
    res.writeHead(status, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
    res.end(JSON.stringify(body));
  }

  // Only pages of this server may talk to it: the Host header must name
  // it (no DNS rebinding), and a request with an Origin must come from it.
  trusted(req) {
    if (!this.allowedHosts.has(String(req.headers.host))) return false;
    const origin = req.headers.origin;
    return origin === undefined || this.allowedHosts.has(origin.replace(/^http:\/\//, ''));
  }

  readBody(req) {
    return new Promise((resolve, reject) => {
      if (!/^application\/json\b/.test(String(req.headers['content-type']))) return reject(new UserError('expected application/json'));
      const chunks = [];
      let size = 0;
      // Past the limit the rest is read and dropped, and the answer closes
      // the connection.
      req.on('data', (c) => {
        size += c.length;
        if (size <= this.limits.requestBody) chunks.push(c);
        else if (size > 16 * this.limits.requestBody) req.destroy();
      });
      req.on('end', () => {
        if (size > this.limits.requestBody) return reject(new UserError('request too large'));
        let body;
        try { body = JSON.parse(Buffer.concat(chunks).toString('utf8') || '{}'); } catch { return reject(new UserError('malformed JSON')); }
        if (body === null || typeof body !== 'object' || Array.isArray(body)) return reject(new UserError('expected a JSON object'));
        return resolve(body);
      });
      req.on('error', reject);
    });
  }

  async handle(req, res) {
    if (!this.trusted(req)) return this.json(res, 403, { error: 'forbidden' });
    const url = new URL(req.url, 'http://local');
    const route = `${req.method} ${url.pathname}`;
    if (req.method === 'GET' && STATIC[url.pathname]) return this.serveFile(res, ...STATIC[url.pathname]);
    if (url.pathname === '/favicon.ico') { res.writeHead(204); return res.end(); }
    switch (route) {
      case 'GET /api/setup': return this.json(res, 200, this.setup());
      case 'GET /api/folder': return this.json(res, 200, this.folderInfo(url.searchParams.get('path')));
      case 'GET /api/layout': return this.json(res, 200, await this.layout(url.searchParams.get('description')));
      case 'GET /api/events':
        if (!this.hub.add(res, this.snapshot())) this.json(res, 503, { error: 'too many pages open' });
        return undefined;
      case 'GET /api/results.log': return this.download(res, 'results.log', 'text/plain', (t) => t);
      case 'GET /api/results.csv': return this.download(res, 'results.csv', 'text/csv', resultsToCsv);
      case 'POST /api/run': return this.json(res, 200, await this.startRun(await this.readBody(req)));
      case 'POST /api/stop': return this.json(res, 200, await this.stopRun());
      case 'POST /api/tokengame': return this.json(res, 200, await this.tokenGame(await this.readBody(req)));
      default: return this.json(res, 404, { error: 'not found' });
    }
  }

  serveFile(res, file, type) {
    fs.readFile(file, (err, data) => {
      if (err) return this.json(res, 404, { error: 'not found' });
      res.writeHead(200, {
        'Content-Type': type, 'Cache-Control': 'no-cache',
        'Content-Security-Policy': "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:",
        'X-Content-Type-Options': 'nosniff',
      });
      res.end(data);
    });
  }

  setup() {
    const descriptions = this.paths.descriptions();
    return {
      modes: describeModes(),
      programs: this.paths.programs().map((p) => {
        const d = this.paths.descriptionFor(p.name);
        return { id: p.id, name: p.name, description: d ? d.id : null };
      }),
      descriptions: descriptions.map((d) => ({ id: d.id, net: d.net })),
      defaultFolder: this.options.defaultFolder,
      workRoots: this.paths.workRoots,
    };
  }

  folderInfo(text) {
    const folder = this.paths.workingFolder(text);
    const file = path.join(folder, 'marking.xml');
    let marking = null;
    try {
      const fd = fs.openSync(file, 'r');
      try {
        const buf = Buffer.alloc(this.limits.markingBytes);
        const n = fs.readSync(fd, buf, 0, buf.length, 0);
        marking = buf.slice(0, n).toString('utf8');
      } finally { fs.closeSync(fd); }
    } catch { marking = null; }
    return { path: folder, marking };
  }

  async layout(id) {
    const d = this.paths.description(id);
    const mtime = fs.statSync(d.file).mtimeMs;
    const cached = this.layouts.get(id);
    if (cached && cached.mtime === mtime) return cached.layout;
    if (fs.statSync(d.file).size > this.limits.descriptionBytes) throw new UserError('the description is too large');
    let description;
    try { description = JSON.parse(fs.readFileSync(d.file, 'utf8')); } catch (e) { throw new UserError('the description is not valid JSON: ' + e.message); }
    const layout = await layoutDescription(description, {
      dotProgram: this.options.dotProgram, timeoutMs: this.limits.layoutTimeoutMs, maxBytes: this.limits.layoutOutputBytes,
    });
    this.layouts.set(id, { mtime, layout });
    return layout;
  }

  download(res, name, type, convert) {
    const text = this.run && !this.run.running ? this.run.readResults() : null;
    if (text === null) return this.json(res, 404, { error: 'no results.log of a finished run' });
    res.writeHead(200, { 'Content-Type': `${type}; charset=latin1`, 'Content-Disposition': `attachment; filename="${name}"` });
    return res.end(Buffer.from(convert(text), 'latin1'));
  }

  snapshot() {
    return {
      run: this.run ? this.run.describe() : null,
      console: this.run ? this.run.console : [],
      results: this.run ? this.run.results.snapshot() : null,
      resultsLog: this.run && !this.run.running ? this.finalResults(this.run) : null,
      tokenGame: this.session ? this.session.snapshot() : null,
    };
  }

  // results.log of an ended run, as text and as rows (measure, time, mean,
  // variance, low, high, ...), or null.
  finalResults(run) {
    const text = run.readResults();
    return text === null ? null : { text, rows: resultsToRows(text) };
  }

  async startRun(body) {
    if (this.run && this.run.running) throw new UserError('a run is still going on; stop it first');
    const program = this.paths.program(body.program);
    const cwd = this.paths.workingFolder(body.folder);
    const { mode, args } = buildArguments(body.mode, body.options || {});
    if (mode.tokengame && await portInUse(this.options.tokenGamePort)) {
      throw new UserError(`port ${this.options.tokenGamePort} is in use by another program; the token game needs it`);
    }
    const description = this.paths.descriptionFor(program.name);
    const run = new SimulationRun({ program: program.file, args, cwd, mode: mode.id, limits: this.limits,
      label: { programId: program.id, description: description ? description.id : null } });
    this.run = run;
    this.session = null;
    run.on('console', (entry) => this.hub.broadcast('console', entry));
    run.on('state', () => this.hub.broadcast('run', run.describe()));
    run.on('ended', () => {
      this.flushResults();
      this.hub.broadcast('resultsLog', this.finalResults(run));
    });
    await run.start();
    this.hub.broadcast('reset', this.snapshot());
    if (mode.tokengame) this.connectTokenGame(run);
    return run.describe();
  }

  // The token game listens once the program has started; the connection is
  // tried until it opens, the program ends, or a minute has passed.
  async connectTokenGame(run) {
    try {
      const client = await TokenGameClient.connect({
        host: '127.0.0.1', port: this.options.tokenGamePort, deadline: Date.now() + 60000,
        stillWorth: () => this.run === run && run.running, limits: this.limits,
      });
      if (this.run !== run || !run.running) { client.close(); return; }
      const session = new TokenGameSession(client, this.limits);
      this.session = session;
      session.on('state', (state) => this.hub.broadcast('tgState', state));
      session.on('transcript', (entry) => this.hub.broadcast('tgTranscript', entry));
      run.once('ended', () => client.close());
      await this.tokenGameAction(() => session.load());
    } catch (e) {
      if (this.run === run) run.consoleLine('err', `front end: ${e.message}`);
    }
  }

  // Token-game actions run one after the other, each to its end.
  tokenGameAction(fn) {
    const result = this.tgQueue.then(fn, fn);
    this.tgQueue = result.catch(() => {});
    return result;
  }

  async tokenGame(body) {
    const session = this.session;
    if (!session || !session.state.connected) throw new UserError('no token game is connected');
    const actions = {
      autofire: () => session.autofire(),
      autotrans: () => session.autotrans(),
      fire: () => session.fire(String(body.name)),
      time: () => session.time(),
      place: () => session.place(String(body.name)),
      replication: () => session.replication(),
      setbreaks: () => session.setBreaks(body.breakpoints),
      breaks: () => session.breaks(),
      singlestep: () => session.singleStep(String(body.step || 'start'), String(body.name)),
    };
    const action = actions[body.action];
    if (!action) throw new UserError('unknown token-game action');
    try {
      await this.tokenGameAction(action);
    } catch (e) {
      throw new UserError(e.message);
    }
    return session.state;
  }

  async stopRun() {
    const run = this.run;
    if (!run || !run.running) return { state: 'idle' };
    if (this.session && this.session.state.connected) {
      await this.tokenGameAction(() => this.session.exit()).catch(() => {});
      setTimeout(() => run.stop(), 3000).unref();
    } else {
      run.stop();
    }
    return run.describe();
  }

  flushResults() {
    if (!this.run) return;
    const delta = this.run.results.takeDelta();
    if (delta) this.hub.broadcast('results', delta);
  }
}

module.exports = { App };
