'use strict';

// `exit` is kept for parents that read error.exit.code; `exitCode` is where Node users look.
class SidecarError extends Error {
  constructor(code, message, { path, tried, exit, stderr, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = 'SidecarError';
    this.code = code;
    if (path !== undefined) this.path = path;
    if (tried !== undefined) this.tried = tried;
    if (exit !== undefined) {
      this.exit = exit;
      this.exitCode = exit.code;
    }
    this.stderr = stderr ?? (exit ? exit.stderr : []);
  }
}

module.exports = { SidecarError };
