'use strict';
// Cuts a byte stream into lines ended by "\n". A line longer than the limit
// is dropped (and counted), so a peer that never sends a line end cannot
// make the buffer grow without bound.
class LineSplitter {
  constructor(onLine, maxLine) {
    this.onLine = onLine;
    this.maxLine = maxLine;
    this.partial = '';
    this.skipping = false;
    this.dropped = 0;
  }

  push(chunk) {
    let text = typeof chunk === 'string' ? chunk : chunk.toString('latin1');
    let start = 0;
    for (;;) {
      const end = text.indexOf('\n', start);
      if (end < 0) break;
      const piece = text.slice(start, end);
      if (this.skipping) {
        this.skipping = false;
      } else if (this.partial.length + piece.length > this.maxLine) {
        this.dropped++;
      } else {
        const line = this.partial + piece;
        this.onLine(line.endsWith('\r') ? line.slice(0, -1) : line);
      }
      this.partial = '';
      start = end + 1;
    }
    if (this.skipping) return;
    const rest = text.slice(start);
    if (this.partial.length + rest.length > this.maxLine) {
      this.partial = '';
      this.skipping = true;
      this.dropped++;
    } else {
      this.partial += rest;
    }
  }

  // The unterminated rest, e.g. when the peer closes.
  end() {
    if (!this.skipping && this.partial.length > 0) this.onLine(this.partial);
    this.partial = '';
    this.skipping = false;
  }
}

module.exports = { LineSplitter };
