'use strict';
// The run modes the page offers and the command-line options of each. A
// new mode is one more entry in MODES (with the options it takes); the page
// builds its form from this table.

const OPTIONS = {
  mstart: { flag: '--mstart', type: 'number', min: 0, label: 'Start (model seconds)' },
  mstop: { flag: '--mstop', type: 'number', min: 0, label: 'Stop (model seconds)' },
  start: { flag: '--start', type: 'date', label: 'Start date (hh:mm:ss@mm/dd/yyyy)' },
  stop: { flag: '--stop', type: 'date', label: 'Stop date (hh:mm:ss@mm/dd/yyyy)' },
  seed: { flag: '--seed', type: 'uint', max: 4294967295, label: 'Random seed' },
  confidence: { flag: '--confidence', type: 'number', min: 80, max: 99.8, label: 'Confidence (%)' },
  epsmax: { flag: '--epsmax', type: 'number', min: 0, label: 'Max. relative error (%)' },
  secmax: { flag: '--secmax', type: 'uint', max: 4294967295, label: 'Max. wall-clock seconds (0: none)' },
  nofsampling: { flag: '--nofsampling', type: 'uint', min: 1, max: 1000000, label: 'Sampling points' },
  percentage: { flag: '--percentage', type: 'bool', label: 'Per-cent rule' },
  fcount: { flag: '--fcount', type: 'uint', min: 1, max: 2147483647, label: 'Events per repetition' },
  lcount: { flag: '--lcount', type: 'uint', min: 1, max: 2147483647, label: 'Repetitions' },
  thrmin: { flag: '--thrmin', type: 'number', label: 'Lowest threshold' },
  thrmax: { flag: '--thrmax', type: 'number', label: 'Highest threshold' },
  thrnumber: { flag: '--thrnumber', type: 'uint', max: 2147483647, label: 'Number of thresholds' },
  repeats: { flag: '--repeats', type: 'uint', max: 2147483647, label: 'RESTART repeats' },
  log: { flag: '-l', type: 'switch', label: 'Write log files (folder Log)' },
};

// `defaults` fill the form; an option left empty is not passed.
const MODES = [
  { id: 'transient', flag: '-T', label: 'Transient', results: true,
    options: ['mstart', 'mstop', 'start', 'stop', 'nofsampling', 'confidence', 'epsmax', 'secmax', 'seed', 'percentage', 'log'],
    defaults: { mstart: '0', mstop: '20', nofsampling: '5', confidence: '90', epsmax: '30', secmax: '60', seed: '777' } },
  { id: 'stationary', flag: '-S', label: 'Stationary', results: true,
    options: ['mstart', 'mstop', 'start', 'stop', 'confidence', 'epsmax', 'secmax', 'seed', 'percentage', 'log'],
    defaults: { mstart: '0', mstop: '0', confidence: '95', epsmax: '2', secmax: '60', seed: '12345' } },
  { id: 'tokengame', flag: '-t', label: 'Token game', tokengame: true,
    options: ['mstart', 'start', 'seed', 'log'],
    defaults: { mstart: '0', seed: '1' } },
  { id: 'profiling', flag: '-p', label: 'Profiling',
    options: ['fcount', 'lcount', 'seed', 'log'],
    defaults: { fcount: '100000', lcount: '3', seed: '1' } },
  // The thresholds depend on the net's importance function: no defaults.
  { id: 'restart', flag: '-R', label: 'RESTART', results: true,
    options: ['mstart', 'mstop', 'start', 'stop', 'thrmin', 'thrmax', 'thrnumber', 'repeats', 'confidence', 'epsmax', 'secmax', 'seed', 'log'],
    defaults: { mstart: '0', mstop: '1000', secmax: '60', seed: '1' } },
];

const NUMBER = /^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d{1,3})?$/;
const UINT = /^\d{1,10}$/;
const DATE = /^\d{2}:\d{2}:\d{2}@\d{2}\/\d{2}\/\d{4}$/;

class OptionError extends Error {}

// The text the simulator gets for one option value, or an OptionError.
function checkValue(name, option, raw) {
  const text = String(raw).trim();
  const bad = (why) => new OptionError(`${option.label}: ${why}`);
  switch (option.type) {
    case 'number': {
      if (!NUMBER.test(text)) throw bad('not a number');
      const v = Number(text);
      if (option.min !== undefined && v < option.min) throw bad(`must be at least ${option.min}`);
      if (option.max !== undefined && v > option.max) throw bad(`must be at most ${option.max}`);
      return text;
    }
    case 'uint': {
      if (!UINT.test(text)) throw bad('not a whole number');
      const v = Number(text);
      if (option.min !== undefined && v < option.min) throw bad(`must be at least ${option.min}`);
      if (v > option.max) throw bad(`must be at most ${option.max}`);
      return String(v);
    }
    case 'date':
      if (!DATE.test(text)) throw bad('expected hh:mm:ss@mm/dd/yyyy');
      return text;
    case 'bool':
      if (text !== 'true' && text !== 'false') throw bad('expected true or false');
      return text;
    default:
      throw bad('unknown option type');
  }
}

function findMode(id) {
  const mode = MODES.find((m) => m.id === id);
  if (!mode) throw new OptionError(`unknown mode ${JSON.stringify(String(id)).slice(0, 40)}`);
  return mode;
}

// The argument vector (without program and --resport) for a mode and the
// option values the page sent. Only options of the mode are read; unknown
// names are refused, empty values left out.
function buildArguments(modeId, values) {
  const mode = findMode(modeId);
  if (values === null || typeof values !== 'object' || Array.isArray(values)) throw new OptionError('options must be an object');
  const args = [mode.flag];
  for (const name of Object.keys(values)) {
    if (!mode.options.includes(name)) throw new OptionError(`option ${JSON.stringify(name).slice(0, 40)} does not belong to mode ${mode.label}`);
  }
  for (const name of mode.options) {
    const option = OPTIONS[name];
    const raw = values[name];
    if (raw === undefined || raw === null || raw === '' || raw === false) continue;
    if (option.type === 'switch') {
      if (raw !== true) throw new OptionError(`${option.label}: expected on or off`);
      args.push(option.flag);
      continue;
    }
    if (typeof raw !== 'string' && typeof raw !== 'number') throw new OptionError(`${option.label}: expected a value`);
    args.push(option.flag, checkValue(name, option, raw));
  }
  return { mode, args };
}

// The table as the page needs it.
function describeModes() {
  return MODES.map((m) => ({
    id: m.id, label: m.label, results: !!m.results, tokengame: !!m.tokengame, defaults: m.defaults,
    options: m.options.map((name) => ({ name, type: OPTIONS[name].type, label: OPTIONS[name].label })),
  }));
}

module.exports = { buildArguments, describeModes, OptionError, MODES, OPTIONS };
