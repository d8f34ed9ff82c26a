'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { buildArguments, OptionError } = require('../../lib/modes');
const { Paths, PathError } = require('../../lib/paths');

test('the argument vector holds the mode switch and the checked options in table order', () => {
  const { args } = buildArguments('transient', { secmax: '60', mstart: '0', mstop: ' 2.5e1 ', nofsampling: '5', log: true, seed: '' });
  assert.deepStrictEqual(args, ['-T', '--mstart', '0', '--mstop', '2.5e1', '--nofsampling', '5', '--secmax', '60', '-l']);
  assert.deepStrictEqual(buildArguments('tokengame', { mstart: '0' }).args, ['-t', '--mstart', '0']);
  assert.deepStrictEqual(buildArguments('restart', { repeats: '4', thrnumber: '3', thrmax: '9.5', thrmin: '-1', mstop: '100', mstart: '0' }).args,
    ['-R', '--mstart', '0', '--mstop', '100', '--thrmin', '-1', '--thrmax', '9.5', '--thrnumber', '3', '--repeats', '4']);
});

test('values that the simulator would misread or that carry other text are refused', () => {
  const refused = [
    ['transient', { mstop: '20; rm -rf /' }],
    ['transient', { mstop: '--help' }],
    ['transient', { secmax: '-1' }],
    ['transient', { secmax: '4294967296' }],
    ['transient', { confidence: '79.9' }],
    ['transient', { nofsampling: '0' }],
    ['transient', { start: '1:2:3@1/1/2020' }],
    ['transient', { percentage: 'yes' }],
    ['transient', { log: 'true' }],
    ['transient', { mstop: ['1'] }],
    ['transient', { fcount: '5' }],          // not an option of this mode
    ['tokengame', { mstop: '5' }],
    ['restart', { thrnumber: '2.5' }],
    ['restart', { nofsampling: '5' }],
    ['nope', {}],
    ['transient', null],
  ];
  for (const [mode, values] of refused) {
    assert.throws(() => buildArguments(mode, values), OptionError, JSON.stringify([mode, values]));
  }
});

function tree() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'fe-paths-'));
  const mk = (rel, text, mode) => {
    const file = path.join(root, rel);
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, text);
    if (mode) fs.chmodSync(file, mode);
    return file;
  };
  mk('repo/model/workflow.net.json', '{"net":"workflow"}');
  mk('repo/examples/mm1/queue.net.json', '{"net":"mm1"}');
  mk('repo/build/workflow', '#!/bin/sh\n', 0o755);
  fs.mkdirSync(path.join(root, 'repo/build/generated/workflow'), { recursive: true });
  mk('repo/build/stray', '#!/bin/sh\n', 0o755);            // no generated sources: not a net program
  mk('repo/build/nets/mm1', '#!/bin/sh\n', 0o755);
  mk('repo/build/nets/notes.txt', 'x');                      // not executable
  mk('repo/build/tests/examples/mm1', '#!/bin/sh\n', 0o755);
  mk('work/run1/marking.xml', '<m/>');
  mk('mine/shop.net.json', '{"net":"shop"}');
  mk('repo/build/CMakeCache.txt', `X:BOOL=ON\nSIM_NET:FILEPATH=${root}/mine/shop.net.json\n`);
  mk('outside/marking.xml', '<m/>');
  fs.symlinkSync(path.join(root, 'outside'), path.join(root, 'work/escape'));
  return root;
}

test('programs come from the build tree only; working folders from the allowed roots only', () => {
  const root = tree();
  const paths = new Paths({ repoRoot: path.join(root, 'repo'), buildDir: path.join(root, 'repo/build'), workRoots: [path.join(root, 'work')] });
  assert.deepStrictEqual(paths.programs().map((p) => p.id), ['workflow', path.join('nets', 'mm1'), path.join('tests', 'examples', 'mm1')]);
  assert.strictEqual(paths.program('workflow').file, path.join(root, 'repo/build/workflow'));
  for (const id of ['stray', '../build/workflow', '/bin/sh', 'nets/notes.txt', undefined]) {
    assert.throws(() => paths.program(id), PathError, String(id));
  }
  assert.strictEqual(paths.workingFolder(path.join(root, 'work/run1')), fs.realpathSync(path.join(root, 'work/run1')));
  for (const f of ['work/run1', path.join(root, 'outside'), path.join(root, 'work/escape'), path.join(root, 'work/none'),
    path.join(root, 'work/run1/marking.xml'), path.join(root, 'work/run1\0x'), 42]) {
    assert.throws(() => paths.workingFolder(f), PathError, String(f));
  }
  assert.strictEqual(paths.descriptionFor('workflow').id, path.join('model', 'workflow.net.json'));
  assert.strictEqual(paths.descriptionFor('mm1').id, path.join('examples', 'mm1', 'queue.net.json'));
  assert.strictEqual(paths.descriptionFor('shop').file, path.join(root, 'mine/shop.net.json'));
  assert.strictEqual(paths.descriptionFor('unknown'), null);
  assert.throws(() => paths.description('../outside/marking.xml'), PathError);
  fs.rmSync(root, { recursive: true, force: true });
});
