'use strict';
// Every buffer the front end keeps is bounded by one of these numbers, so
// that neither the simulator nor a browser can make the server grow.
module.exports = Object.freeze({
  maxLine: 64 * 1024,            // one line of the result stream
  consoleLine: 8 * 1024,         // one console line (longer ones are dropped)
  consoleLines: 2000,            // console lines kept for late-joining pages
  maxPointsPerSeries: 4000,      // points kept per measure before thinning
  maxMeasures: 500,              // distinct measures or watched elements
  maxReply: 4 * 1024 * 1024,     // one token-game reply (NET of a large net)
  transcriptEntries: 400,        // token-game commands and replies kept
  resultsLogBytes: 16 * 1024 * 1024,
  markingBytes: 256 * 1024,      // marking.xml shown on the page
  descriptionBytes: 8 * 1024 * 1024,
  requestBody: 64 * 1024,        // JSON body of one browser request
  eventClients: 16,              // pages listening at the same time
  layoutTimeoutMs: 20000,        // one run of Graphviz
  layoutOutputBytes: 16 * 1024 * 1024,
  replyTimeoutMs: 30000,         // the token game's answer to one command
});
