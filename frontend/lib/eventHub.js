'use strict';
// Server-sent events to every open page. A page that does not keep up (its
// unsent data outgrows the limit) is dropped; it reconnects and gets a
// fresh snapshot.
class EventHub {
  constructor({ maxClients, maxBacklog = 8 * 1024 * 1024 }) {
    this.maxClients = maxClients;
    this.maxBacklog = maxBacklog;
    this.clients = new Set();
  }

  // Returns false when there are too many pages already.
  add(res, snapshot) {
    if (this.clients.size >= this.maxClients) return false;
    res.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store', Connection: 'keep-alive' });
    this.clients.add(res);
    res.on('close', () => this.clients.delete(res));
    this.sendTo(res, 'snapshot', snapshot);
    return true;
  }

  sendTo(res, event, data) {
    if (res.writableLength > this.maxBacklog) {
      this.clients.delete(res);
      res.destroy();
      return;
    }
    res.write(`event: ${event}\ndata: ${JSON.stringify(data)}\n\n`);
  }

  broadcast(event, data) {
    for (const res of [...this.clients]) this.sendTo(res, event, data);
  }

  closeAll() {
    for (const res of this.clients) res.end();
    this.clients.clear();
  }
}

module.exports = { EventHub };
