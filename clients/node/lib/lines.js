'use strict';

const { StringDecoder } = require('node:string_decoder');

// Splits a byte stream into lines: a line may arrive in pieces and a multi-byte character may
// be cut between chunks. Invalid UTF-8 becomes U+FFFD rather than an exception. A line longer
// than maxLength is cut there and the rest of it, up to its line feed, is dropped, so a stream
// that never sends a line feed cannot grow memory without limit.
class LineSplitter {
  constructor(onLine, { maxLength = 64 * 1024 } = {}) {
    this.onLine = onLine;
    this.maxLength = maxLength;
    this.decoder = new StringDecoder('utf8');
    this.partial = '';
    this.dropping = false;
  }

  push(chunk) {
    this.consume(this.decoder.write(chunk));
  }

  // End of the stream: a last line without a line feed still counts.
  end() {
    this.consume(this.decoder.end());
    const rest = this.partial;
    this.partial = '';
    if (!this.dropping) this.emit(rest);
    this.dropping = false;
  }

  consume(text) {
    let start = 0;
    for (;;) {
      const newline = text.indexOf('\n', start);
      if (newline < 0) break;
      const piece = text.slice(start, newline);
      start = newline + 1;
      if (this.dropping) {
        this.dropping = false;
        continue;
      }
      const line = this.partial + piece;
      this.partial = '';
      this.emit(line.slice(0, this.maxLength));
    }
    if (this.dropping) return;
    this.partial += text.slice(start);
    if (this.partial.length > this.maxLength) {
      const line = this.partial.slice(0, this.maxLength);
      this.partial = '';
      this.dropping = true;
      this.emit(line);
    }
  }

  emit(line) {
    if (line.endsWith('\r')) line = line.slice(0, -1);
    if (line.length > 0) this.onLine(line);
  }
}

module.exports = { LineSplitter };
