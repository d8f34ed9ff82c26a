'use strict';
// What the page may name on this machine: programs of the build tree, the
// working folders below the roots the user allowed, and the net
// descriptions of the source tree. The page only ever sends an id or a
// path that is checked here; nothing it sends reaches a shell.
const fs = require('fs');
const path = require('path');

class PathError extends Error {}

function isExecutableFile(file) {
  try {
    const st = fs.statSync(file);
    if (!st.isFile()) return false;
    fs.accessSync(file, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

function listDir(dir) {
  try {
    return fs.readdirSync(dir).sort();
  } catch {
    return [];
  }
}

function isInside(root, target) {
  const rel = path.relative(root, target);
  return rel === '' || (!rel.startsWith('..') && !path.isAbsolute(rel));
}

class Paths {
  // repoRoot: the source tree; buildDir: its build tree; workRoots: the
  // folders below which the page may name working folders.
  // extraProgramDirs, descriptionDirs: more folders of programs and of
  // net descriptions (the front end's --programs and --descriptions).
  constructor({ repoRoot, buildDir, workRoots, extraProgramDirs = [], descriptionDirs = [] }) {
    this.repoRoot = fs.realpathSync(repoRoot);
    this.buildDir = path.resolve(buildDir);
    this.workRoots = workRoots.map((r) => fs.realpathSync(r));
    this.extraProgramDirs = extraProgramDirs.map((d) => path.resolve(d));
    this.descriptionDirs = descriptionDirs.map((d) => path.resolve(d));
  }

  // The compiled net programs: build/<name> made from a description (its
  // generated sources lie in build/generated/<name>), every program in
  // build/nets, build/tests/nets and build/tests/examples (the examples/
  // nets), and those of extra program folders.
  programs() {
    const found = [];
    for (const name of listDir(this.buildDir)) {
      const file = path.join(this.buildDir, name);
      if (fs.existsSync(path.join(this.buildDir, 'generated', name)) && isExecutableFile(file)) {
        found.push({ id: name, name, file });
      }
    }
    const dirs = [path.join(this.buildDir, 'nets'), path.join(this.buildDir, 'tests', 'nets'),
      path.join(this.buildDir, 'tests', 'examples'), ...this.extraProgramDirs];
    for (const dir of dirs) {
      for (const name of listDir(dir)) {
        const file = path.join(dir, name);
        if (!isExecutableFile(file)) continue;
        const id = path.relative(this.buildDir, file);
        found.push({ id, name: name.replace(/\.[^.]*$/, ''), file });
      }
    }
    return found;
  }

  program(id) {
    const p = this.programs().find((x) => x.id === id);
    if (!p) throw new PathError('not a program of the build tree: ' + String(id).slice(0, 200));
    return p;
  }

  // A working folder the page names: an existing folder below a work root,
  // given as an absolute path. Returns its real path.
  workingFolder(text) {
    if (typeof text !== 'string' || text.length === 0 || text.length > 4096 || text.includes('\0')) {
      throw new PathError('a working folder must be given as a path');
    }
    if (!path.isAbsolute(text)) throw new PathError('the working folder must be an absolute path');
    let real;
    try {
      real = fs.realpathSync(text);
    } catch {
      throw new PathError('no such folder: ' + text);
    }
    if (!fs.statSync(real).isDirectory()) throw new PathError('not a folder: ' + text);
    if (!this.workRoots.some((root) => isInside(root, real))) {
      throw new PathError(`the folder lies outside the allowed roots (${this.workRoots.join(', ')}); start the front end with --workroot to allow it`);
    }
    return real;
  }

  // Net descriptions (*.net.json) of the source tree and the build tree.
  descriptions() {
    const roots = ['model', 'examples', 'tests/model/nets'].map((d) => path.join(this.repoRoot, d));
    roots.push(path.join(this.buildDir, 'nets'), ...this.descriptionDirs);
    const found = [];
    const walk = (dir, depth) => {
      for (const name of listDir(dir)) {
        if (found.length >= 500) return;
        const file = path.join(dir, name);
        let st;
        try { st = fs.statSync(file); } catch { continue; }
        if (st.isDirectory() && depth < 3) walk(file, depth + 1);
        else if (st.isFile() && name.endsWith('.net.json')) found.push(file);
      }
    };
    roots.forEach((r) => walk(r, 0));
    const lastBuilt = this.lastBuiltDescription();
    if (lastBuilt) found.push(lastBuilt);
    return [...new Set(found)].map((file) => ({
      id: isInside(this.repoRoot, file) ? path.relative(this.repoRoot, file) : file,
      file,
      net: readNetName(file),
      fileName: path.basename(file, '.net.json'),
    }));
  }

  // scripts/build_net.sh builds a description from anywhere: the build
  // tree's cache names the last one (SIM_NET).
  lastBuiltDescription() {
    let cache;
    try { cache = fs.readFileSync(path.join(this.buildDir, 'CMakeCache.txt'), 'utf8'); } catch { return null; }
    const m = /^SIM_NET:FILEPATH=(.+\.net\.json)$/m.exec(cache);
    return m && fs.existsSync(m[1]) ? path.resolve(m[1]) : null;
  }

  description(id) {
    const d = this.descriptions().find((x) => x.id === id);
    if (!d) throw new PathError('not a known net description: ' + String(id).slice(0, 200));
    return d;
  }

  // The description a program was built from: the one whose net name is the
  // program's name, else the one whose file has that name.
  descriptionFor(programName) {
    const all = this.descriptions();
    return all.find((d) => d.net === programName) || all.find((d) => d.fileName === programName) || null;
  }
}

function readNetName(file) {
  try {
    const st = fs.statSync(file);
    if (st.size > 8 * 1024 * 1024) return null;
    const data = JSON.parse(fs.readFileSync(file, 'utf8'));
    return typeof data.net === 'string' ? data.net : null;
  } catch {
    return null;
  }
}

module.exports = { Paths, PathError, isInside };
