'use strict';
// Turns results.log into CSV rows: one row per measure and sampling point
// (transient runs) or per measure (stationary runs), with the flag whether
// the measure reached the requested accuracy.

const HEADER = ['measure', 'time', 'mean', 'variance', 'low', 'high', 'epsilon', 'accuracy_reached'];
const NUM = '([-+0-9.eEinfa]+)';
const TRANSIENT_ROW = new RegExp(`^\\t${NUM}\\t\\s*${NUM}\\t\\s*${NUM}\\t+\\[${NUM};${NUM}\\]\\t${NUM}\\s*$`);
const STATIONARY_ROW = new RegExp(`^\\t${NUM}\\t\\s*${NUM}\\t+\\[${NUM};${NUM}\\]\\t${NUM}\\s*$`);

function csvField(text) {
  return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}

function resultsToRows(text) {
  const rows = [];
  let measure = null;
  let reached = true;
  for (const line of text.split('\n')) {
    const head = /^Measure: (.*)$/.exec(line);
    if (head) {
      measure = head[1];
      reached = true;
      continue;
    }
    if (measure === null) continue;
    if (/Has not reached predefined accuracy!/.test(line)) reached = false;
    let m = TRANSIENT_ROW.exec(line);
    if (m) {
      rows.push([measure, m[1], m[2], m[3], m[4], m[5], m[6], String(reached)]);
      continue;
    }
    m = STATIONARY_ROW.exec(line);
    if (m) rows.push([measure, '', m[1], m[2], m[3], m[4], m[5], String(reached)]);
  }
  return rows;
}

function resultsToCsv(text) {
  return [HEADER, ...resultsToRows(text)].map((r) => r.map(csvField).join(',')).join('\n') + '\n';
}

module.exports = { resultsToRows, resultsToCsv };
