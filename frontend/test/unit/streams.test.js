'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { LineSplitter } = require('../../lib/lineSplitter');
const { parseLine, ResultModel } = require('../../lib/resultStream');
const { resultsToRows, resultsToCsv } = require('../../lib/resultsLog');

test('lines are cut across chunks, CR dropped, an overlong line dropped and counted', () => {
  const lines = [];
  const s = new LineSplitter((l) => lines.push(l), 10);
  s.push('TIME;1');
  s.push('0\r\nA\n');
  s.push('x'.repeat(8));
  s.push('y'.repeat(8));        // over the limit before its end arrives
  s.push('zz\nB\nrest');
  s.end();
  assert.deepStrictEqual(lines, ['TIME;10', 'A', 'B', 'rest']);
  assert.strictEqual(s.dropped, 1);
});

test('every kind of stream line is read', () => {
  assert.deepStrictEqual(parseLine('NETNAME;workflow'), { kind: 'netname', value: 'workflow' });
  assert.deepStrictEqual(parseLine('STARTTIME;0'), { kind: 'starttime', t: 0 });
  assert.deepStrictEqual(parseLine('TIME;1e-05'), { kind: 'time', t: 1e-5 });
  assert.deepStrictEqual(parseLine('Through<put<X:Mean>,<-ConfMin>,<+ConfMax>;0.5,0.45,0.55'),
    { kind: 'estimate', name: 'Through<put', type: 'X', mean: 0.5, low: 0.45, high: 0.55 });
  assert.deepStrictEqual(parseLine('Q<X:Mean>,<-ConfMin>,<+ConfMax>;nan,-nan,inf'),
    { kind: 'estimate', name: 'Q', type: 'X', mean: null, low: null, high: null });
  assert.deepStrictEqual(parseLine('S_ready<Transition>;12'), { kind: 'value', name: 'S_ready', type: 'Transition', value: 12 });
  assert.deepStrictEqual(parseLine('T<Transition:Display>;2.5'), { kind: 'display', name: 'T', type: 'Transition', value: 2.5 });
  assert.deepStrictEqual(parseLine('EXIT;0'), { kind: 'exit', code: '0' });
  assert.strictEqual(parseLine('garbage').kind, 'unknown');
});

const limits = { maxMeasures: 3, maxPointsPerSeries: 8 };
const feed = (model, lines) => lines.forEach((l) => model.add(parseLine(l)));

test('a sampling point sent again replaces the old estimate; deltas carry only what is new', () => {
  const m = new ResultModel(limits);
  feed(m, ['TIME;0', 'A<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2', 'TIME;5', 'A<X:Mean>,<-ConfMin>,<+ConfMax>;2,1,3']);
  assert.deepStrictEqual(m.takeDelta().points.A.points, [[0, 1, 0, 2], [5, 2, 1, 3]]);
  assert.strictEqual(m.takeDelta(), null);
  feed(m, ['TIME;0', 'A<X:Mean>,<-ConfMin>,<+ConfMax>;1.5,1.4,1.6']);
  assert.deepStrictEqual(m.takeDelta().points.A.points, [[0, 1.5, 1.4, 1.6]]);
  assert.deepStrictEqual(m.snapshot().series.A.points, [[0, 1.5, 1.4, 1.6], [5, 2, 1, 3]]);
  // Worst relative half-width at each measure's latest point: (3-1)/2/2.
  assert.strictEqual(m.relativeError(), 0.5);
});

test('series and measures stay bounded: thinning resends the whole series', () => {
  const m = new ResultModel(limits);
  for (let t = 0; t < 9; t++) feed(m, [`TIME;${t}`, 'A<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2']);
  const d = m.takeDelta();
  assert.ok(d.replaced.A.points.length <= limits.maxPointsPerSeries);
  assert.strictEqual(d.replaced.A.points.at(-1)[0], 8, 'the latest point is kept');
  assert.strictEqual(d.points.A, undefined);
  feed(m, ['B<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2', 'C<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2', 'D<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2']);
  assert.deepStrictEqual(Object.keys(m.snapshot().series), ['A', 'B', 'C']);
});

test('an estimate before any TIME line is not plotted', () => {
  const m = new ResultModel(limits);
  feed(m, ['A<X:Mean>,<-ConfMin>,<+ConfMax>;1,0,2']);
  assert.deepStrictEqual(m.snapshot().series, {});
});

const TRANSIENT = `RESULTS OF TRANSIENT SIMULATION
SIMULATION TIME: 20

Measure: Q,1
WARNING:
\tMeasure Q,1: Has not reached predefined accuracy!
\tCurrent Values:

\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon

\t0.000000e+00\t0.000000e+00\t0.000000e+00\t[0.000000e+00;0.000000e+00]\t0.000000e+00
\t5.000000e+00\t8.004923e-01\t5.214507e-01\t[5.645537e-01;1.036431e+00]\t2.947418e-01



Measure: R
\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon

\t0.000000e+00\t1.000000e+00\t0.000000e+00\t[1.000000e+00;1.000000e+00]\t0.000000e+00
`;
const STATIONARY = `RESULTS OF STATIONARY SIMULATION
SIMULATION TIME: 0

Measure: C1_in_use
\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon

\t4.147997e+00\t2.107708e+00\t[3.940906e+00;4.355089e+00]\t4.992566e-02


Measure: AReady
WARNING:
\tMeasure AReady: Was chosen cumulative.

`;

test('results.log becomes CSV rows, with the accuracy flag and quoted names', () => {
  assert.deepStrictEqual(resultsToRows(TRANSIENT), [
    ['Q,1', '0.000000e+00', '0.000000e+00', '0.000000e+00', '0.000000e+00', '0.000000e+00', '0.000000e+00', 'false'],
    ['Q,1', '5.000000e+00', '8.004923e-01', '5.214507e-01', '5.645537e-01', '1.036431e+00', '2.947418e-01', 'false'],
    ['R', '0.000000e+00', '1.000000e+00', '0.000000e+00', '1.000000e+00', '1.000000e+00', '0.000000e+00', 'true'],
  ]);
  assert.deepStrictEqual(resultsToRows(STATIONARY), [
    ['C1_in_use', '', '4.147997e+00', '2.107708e+00', '3.940906e+00', '4.355089e+00', '4.992566e-02', 'true'],
  ]);
  assert.match(resultsToCsv(TRANSIENT), /^measure,time,mean,variance,low,high,epsilon,accuracy_reached\n"Q,1",0\.0/);
});
