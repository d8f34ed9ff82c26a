#!/usr/bin/env node
'use strict';
// Starts the front end: node server.js [options]; see --help.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { App } = require('./lib/app');
const limits = require('./lib/limits');

const USAGE = `usage: node server.js [options]
  --host ADDR          address to listen on (default 127.0.0.1)
  --port N             port of the page (default 8420; 0 picks a free one)
  --build DIR          build tree with the simulator programs (default <repo>/build)
  --workroot DIR       allow working folders below DIR (repeatable; the
                       repository, the temporary folder and $HOME always are)
  --folder DIR         working folder proposed to the page (default
                       <build>/frontend/work, made with the bundled marking)
  --programs DIR       also offer the programs in DIR
  --descriptions DIR   also look for net descriptions (*.net.json) in DIR;
                       the token game draws a program's net from the
                       description whose "net" is the program's name
  --tokengame-port N   port of the token game (default 2020, the simulator's)`;

function parseArgs(argv) {
  const repoRoot = path.resolve(__dirname, '..');
  const o = { host: '127.0.0.1', port: 8420, repoRoot, buildDir: path.join(repoRoot, 'build'), workRoots: [],
    extraProgramDirs: [], descriptionDirs: [], tokenGamePort: 2020, defaultFolder: null };
  const value = (i) => {
    if (i + 1 >= argv.length) throw new Error(`${argv[i]} needs a value`);
    return argv[i + 1];
  };
  const port = (text) => {
    if (!/^\d{1,5}$/.test(text) || Number(text) > 65535) throw new Error(`not a port: ${text}`);
    return Number(text);
  };
  for (let i = 0; i < argv.length; i++) {
    switch (argv[i]) {
      case '--host': o.host = value(i++); break;
      case '--port': o.port = port(value(i++)); break;
      case '--build': o.buildDir = path.resolve(value(i++)); break;
      case '--workroot': o.workRoots.push(path.resolve(value(i++))); break;
      case '--folder': o.defaultFolder = path.resolve(value(i++)); break;
      case '--programs': o.extraProgramDirs.push(path.resolve(value(i++))); break;
      case '--descriptions': o.descriptionDirs.push(path.resolve(value(i++))); break;
      case '--tokengame-port': o.tokenGamePort = port(value(i++)); break;
      case '--help': console.log(USAGE); process.exit(0); break;
      default: throw new Error(`unknown option ${argv[i]}`);
    }
  }
  return o;
}

// The proposed working folder: made on first use with the bundled marking.
function prepareDefaultFolder(o) {
  if (o.defaultFolder) return;
  o.defaultFolder = path.join(o.buildDir, 'frontend', 'work');
  fs.mkdirSync(o.defaultFolder, { recursive: true });
  const marking = path.join(o.defaultFolder, 'marking.xml');
  if (!fs.existsSync(marking)) fs.copyFileSync(path.join(o.repoRoot, 'model', 'marking.xml'), marking);
}

async function main() {
  let o;
  try {
    o = parseArgs(process.argv.slice(2));
    prepareDefaultFolder(o);
  } catch (e) {
    console.error(`${e.message}\n${USAGE}`);
    process.exit(2);
  }
  const roots = [o.repoRoot, os.tmpdir(), os.homedir(), ...o.workRoots, o.defaultFolder].filter((d) => fs.existsSync(d));
  const app = new App({ ...o, workRoots: [...new Set(roots)], limits });
  let port;
  try {
    port = await app.listen(o.host, o.port);
  } catch (e) {
    console.error(`cannot listen on ${o.host}:${o.port}: ${e.message}`);
    process.exit(1);
  }
  const shown = o.host.includes(':') ? `[${o.host}]` : o.host;
  console.log(`front end listening on http://${shown}:${port}/`);
  let closing = false;
  const shutdown = async () => {
    if (closing) return;
    closing = true;
    await app.close();
    process.exit(0);
  };
  for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(sig, shutdown);
  process.on('exit', () => app.killNow());
  process.on('uncaughtException', (e) => {
    console.error(e);
    process.exit(1);
  });
}

main();
