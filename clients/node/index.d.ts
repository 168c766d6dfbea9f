// Declarations for velmora-sidecar. They build on Node's types (@types/node, which Electron's
// own types bring along) so that a Sidecar is an EventEmitter to every Node API; they need no
// Electron types: Electron's app fits the shape below.
import { EventEmitter } from 'node:events';

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
  | 'ABORTED'
  | 'RESTORE_UNSUPPORTED'
  | 'RESTORE_TIMEOUT'
  | 'RESTORE_FAILED';

/** The part of an AbortSignal that is used. */
export interface AbortSignalLike {
  readonly aborted: boolean;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

/** How to run the executable; shared by startSidecar() and restoreLeftovers(). */
export interface RunOptions {
  /** The executable, the only place looked at when given; default: see resolveSidecarPath(). */
  path?: string;
  /** Run the sidecar through this program (tests use "wine"); default: the executable itself. */
  command?: string;
  /** Arguments of `command`; default: [path] with a command, [] without. */
  args?: string[];
  /** The child's environment; default: this process's. */
  env?: Record<string, string | undefined>;
  /** Default 10000: how long a stop waits for bye and the exit before it kills. */
  stopTimeoutMs?: number;
  /** Aborting stops the sidecar; the error's cause is the signal's reason. */
  signal?: AbortSignalLike;
}

export interface SidecarOptions extends RunOptions {
  /** Default 20000. When it passes, the sidecar is stopped (not killed) and start-up fails. */
  readyTimeoutMs?: number;
  /** true sets VELMORA_DIAG=1 (keys are reported but pass on); false removes it. */
  diagnostic?: boolean;
  /** Called with the sidecar as soon as it runs, before ready. */
  onSpawn?: (sidecar: Sidecar) => void;
  /** Binds Electron's app from the start: a quit is held until the sidecar has stopped. */
  app?: ElectronAppLike;
  /** With app: the quit event that stops the sidecar (see bindElectronApp). */
  stopOn?: StopOn;
}

export interface RestoreOptions extends RunOptions {
  /** Default 30000: when it passes, the run is stopped and the call fails with RESTORE_TIMEOUT. */
  timeoutMs?: number;
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

/**
 * A running sidecar: a Node EventEmitter that never emits 'error', so events.once(sidecar,
 * 'exit') and `for await (const [key] of events.on(sidecar, 'key'))` work as with any emitter.
 */
export declare class Sidecar extends EventEmitter {
  private constructor();
  readonly pid: number;
  readonly state: SidecarState;
  /** Resolves once, when the sidecar has exited and its output has been read. */
  readonly exited: Promise<ExitResult>;
  /**
   * Sends stop, closes standard input, waits for bye and the exit, and kills only after
   * timeoutMs (default: the stopTimeoutMs option); a later call can bring the kill forward,
   * never back. Idempotent; never rejects.
   */
  stop(options?: { timeoutMs?: number }): Promise<ExitResult>;
  on<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  once<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  off<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  addListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  prependListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  prependOnceListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  removeListener<E extends SidecarEventName>(event: E, listener: SidecarListener<E>): this;
  removeAllListeners(event?: SidecarEventName): this;
  listenerCount(event: SidecarEventName): number;
  emit<E extends SidecarEventName>(event: E, ...args: SidecarEvents[E]): boolean;
}

export declare class SidecarError extends Error {
  readonly name: 'SidecarError';
  readonly code: SidecarErrorCode;
  /** SPAWN_FAILED: the file that could not be run (the first place tried, when none was found). */
  readonly path?: string;
  /** SPAWN_FAILED when no executable was found: every place looked at, in order. */
  readonly tried?: string[];
  /** How the sidecar ended, when it ran (kept for parents that read exit.code). */
  readonly exit?: ExitResult;
  /** The exit status, when it ran and exited with one. */
  readonly exitCode?: number | null;
  /** ABORTED: the abort signal's reason (a TimeoutError from AbortSignal.timeout()). */
  readonly cause?: unknown;
  /** The last lines of its standard error. */
  readonly stderr: string[];
}

/**
 * Resolves at ready; rejects with a SidecarError. Made with the app option, or handed to
 * bindElectronApp(), the start promise holds the app's quit from the first moment.
 */
export declare function startSidecar(options?: SidecarOptions): Promise<Sidecar>;

/**
 * Runs the executable in its restore-only mode: it puts back whatever a run that never
 * finished left changed, and changes nothing else. Resolves with outcome 'restored' when it
 * has ended; rejects with ALREADY_RUNNING while a lock runs, RESTORE_UNSUPPORTED for an
 * executable without that mode (it said ready and was stopped), RESTORE_TIMEOUT, ABORTED,
 * SPAWN_FAILED, or RESTORE_FAILED.
 */
export declare function restoreLeftovers(options?: RestoreOptions): Promise<ExitResult>;

/** What Electron passes to its quit events' listeners, as far as it is used. */
export interface QuitEvent {
  preventDefault(): void;
}

/** The part of Electron's app that is used; Electron's app fits it. */
export interface ElectronAppLike {
  on(event: 'before-quit', listener: (event: QuitEvent) => void): unknown;
  on(event: 'will-quit', listener: (event: QuitEvent) => void): unknown;
  removeListener(event: 'before-quit', listener: (event: QuitEvent) => void): unknown;
  removeListener(event: 'will-quit', listener: (event: QuitEvent) => void): unknown;
  quit(): void;
}

/**
 * will-quit (the default) comes once every window has agreed to close; before-quit comes
 * first, before a window can still cancel its close.
 */
export type StopOn = 'will-quit' | 'before-quit';

/**
 * Holds the app's quit until the sidecar has stopped, then quits again. Takes the sidecar or
 * the promise from startSidecar(), so it can be made before ready: a quit during start-up
 * stops the sidecar and then goes through. Ends by itself once the sidecar has exited.
 * Returns a function that removes it.
 */
export declare function bindElectronApp(
  app: ElectronAppLike,
  sidecar: Sidecar | Promise<Sidecar>,
  options?: { stopOn?: StopOn },
): () => void;

/**
 * The executable to run. Given a path, that path alone; otherwise, in order: under Electron,
 * process.resourcesPath/velmora-sidecar.exe (extra resources), then this package's own bin/,
 * with app.asar mapped to app.asar.unpacked. Throws a SidecarError SPAWN_FAILED whose
 * message and `tried` name every place looked at.
 */
export declare function resolveSidecarPath(path?: string): string;
