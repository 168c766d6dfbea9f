// Declarations for velmora-sidecar. Self-contained: they need neither Node's nor Electron's
// types, and Node's AbortSignal and Electron's app fit the shapes below.

export type SidecarState = 'starting' | 'ready' | 'stopping' | 'exited';

/**
 * restored: bye was seen and the status was 0, every setting is back.
 * exited: the sidecar ended on its own without bye or with another status.
 * killed: it did not exit within the stop time-out and was killed; its settings are left to
 * the watcher, and the app should tell the user.
 */
export type StopOutcome = 'restored' | 'exited' | 'killed';

export interface ExitResult {
  outcome: StopOutcome;
  /** Exit status, null when ended by a signal (or never seen). */
  code: number | null;
  signal: string | null;
  /** Whether the sidecar said bye, that is, put every setting back. */
  bye: boolean;
  /** The last lines of standard error (at most 20). */
  stderr: string[];
}

export interface KeyEvent {
  /** Windows virtual-key code. */
  vk: number;
  /** true when pressed, false when released. */
  down: boolean;
}

export type SidecarWarningType = 'malformed-line' | 'unknown-event' | 'child-error' | 'pipes-held-open';

export interface SidecarWarning {
  type: SidecarWarningType;
  message: string;
  /** The offending line, for malformed lines and unknown events. */
  line?: string;
}

export type SidecarErrorCode =
  | 'SPAWN_FAILED'
  | 'READY_TIMEOUT'
  | 'FATAL'
  | 'HOOK_INSTALL_FAILED'
  | 'ALREADY_RUNNING'
  | 'EXITED_BEFORE_READY'
  | 'ABORTED';

/** The part of an AbortSignal that is used. */
export interface AbortSignalLike {
  readonly aborted: boolean;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

export interface SidecarOptions {
  /** The executable; default: the one bundled in this package (see resolveSidecarPath). */
  path?: string;
  /** Run the sidecar through this program (tests use "wine"); default: the executable itself. */
  command?: string;
  /** Arguments of `command`; default: [path] with a command, [] without. */
  args?: string[];
  /** Default 20000. When it passes, the sidecar is stopped (not killed) and start-up fails. */
  readyTimeoutMs?: number;
  /** Default 10000: how long stop() waits for bye and the exit before it kills. */
  stopTimeoutMs?: number;
  /** true sets VELMORA_DIAG=1 (keys are reported but pass on); false removes it. */
  diagnostic?: boolean;
  /** The child's environment; default: this process's. */
  env?: Record<string, string | undefined>;
  /** Aborting calls stop(); before ready, start-up then fails with ABORTED. */
  signal?: AbortSignalLike;
  /** Called with the sidecar as soon as it runs, before ready. */
  onSpawn?: (sidecar: Sidecar) => void;
}

export interface SidecarEvents {
  key: [KeyEvent];
  'session-lock': [];
  stderr: [string];
  warning: [SidecarWarning];
  exit: [ExitResult];
}

export type SidecarEventName = keyof SidecarEvents;
export type SidecarListener<E extends SidecarEventName> = (...args: SidecarEvents[E]) => void;

/** A running sidecar; a Node EventEmitter that never emits 'error'. */
export declare class Sidecar {
  private constructor();
  readonly pid: number;
  readonly state: SidecarState;
  /** Resolves once, when the sidecar has exited and its output has been read. */
  readonly exited: Promise<ExitResult>;
  /**
   * Sends stop, closes standard input, waits for bye and the exit, and kills only after
   * timeoutMs (default: the stopTimeoutMs option). Idempotent; never rejects.
   */
  stop(options?: { timeoutMs?: number }): Promise<ExitResult>;
  on<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  once<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  off<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  addListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  removeListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  removeAllListeners(event?: SidecarEventName): this;
  listenerCount(event: SidecarEventName): number;
}

export declare class SidecarError extends Error {
  readonly name: 'SidecarError';
  readonly code: SidecarErrorCode;
  /** SPAWN_FAILED: the file that could not be run. */
  readonly path?: string;
  /** How the sidecar ended, when it ran. */
  readonly exit?: ExitResult;
  /** The last lines of its standard error. */
  readonly stderr: string[];
}

/** Resolves at ready; rejects with a SidecarError. */
export declare function startSidecar(options?: SidecarOptions): Promise<Sidecar>;

/** The part of Electron's app that is used. */
export interface ElectronAppLike {
  on(event: 'before-quit', listener: (event: { preventDefault(): void }) => void): unknown;
  removeListener(event: 'before-quit', listener: (event: { preventDefault(): void }) => void): unknown;
  quit(): void;
}

/**
 * Holds the app's first quit until the sidecar has stopped, then quits again.
 * Returns a function that removes the binding.
 */
export declare function bindElectronApp(app: ElectronAppLike, sidecar: Sidecar): () => void;

/** The bundled executable, with app.asar mapped to app.asar.unpacked. */
export declare function resolveSidecarPath(): string;
