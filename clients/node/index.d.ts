// Declarations for velmora-sidecar. They build on Node's types (@types/node, which Electron's
// own types bring along) so that a Sidecar is an EventEmitter to every Node API; they need no
// Electron types: Electron's app fits the shape below. Optional members also take undefined,
// for projects with exactOptionalPropertyTypes.
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
  | 'RESTORE_FAILED'
  | 'UNSUPPORTED_PLATFORM';

/** The part of an AbortSignal that is used. */
export interface AbortSignalLike {
  readonly aborted: boolean;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

/** How to run the executable; shared by startSidecar() and restoreLeftovers(). */
export interface RunOptions {
  /** The executable, the only place looked at when given; default: see resolveSidecarPath(). */
  path?: string | undefined;
  /**
   * Run the sidecar through this program (tests use "wine"); default: the executable itself,
   * which only Windows runs (elsewhere UNSUPPORTED_PLATFORM).
   */
  command?: string | undefined;
  /** Arguments of `command`; default: [path] with a command, [] without. */
  args?: string[] | undefined;
  /** The child's environment; default: this process's. */
  env?: Record<string, string | undefined> | undefined;
  /** Default 10000: how long a stop waits for bye and the exit before it kills. */
  stopTimeoutMs?: number | undefined;
  /** Aborting stops the sidecar; the error's cause is the signal's reason. */
  signal?: AbortSignalLike | undefined;
  /**
   * Electron's app: when it is not packaged, the executable is also looked for in this package
   * as resolved from app.getAppPath(). Without it, Electron's own app is used when reachable.
   */
  app?: AppLocation | undefined;
}

/** How the quit is held; for bindElectronApp() and startSidecar()'s app option. */
export interface BindOptions {
  /** The quit event that stops the sidecar; default 'will-quit'. */
  stopOn?: StopOn | undefined;
  /** Called when the quit-time stop begins, while the sidecar still runs (show "restoring…"). */
  onStopping?: (() => void) | undefined;
  /** Called with the stop's result before the app quits; the quit waits for a promise it returns. */
  onStopped?: ((result: ExitResult) => void | Promise<void>) | undefined;
  /**
   * How long after the quit the sidecar may take to stop before it is killed; the app quits as
   * soon as it has exited. Default: the stop time-out.
   */
  quitTimeoutMs?: number | undefined;
}

export interface SidecarOptions extends RunOptions, BindOptions {
  /** Default 20000. When it passes, the sidecar is stopped (not killed) and start-up fails. */
  readyTimeoutMs?: number | undefined;
  /** true sets VELMORA_DIAG=1 (keys are reported but pass on); false removes it. */
  diagnostic?: boolean | undefined;
  /** Called with the sidecar as soon as it runs, before ready. */
  onSpawn?: ((sidecar: Sidecar) => void) | undefined;
  /** Binds Electron's app from the start: a quit is held until the sidecar has stopped. */
  app?: ElectronAppLike | undefined;
}

export interface RestoreOptions extends RunOptions {
  /** Default 30000: when it passes, the run is stopped and the call fails with RESTORE_TIMEOUT. */
  timeoutMs?: number | undefined;
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
 * Those two give any[]: Node declares them as static methods of EventEmitter, which a package
 * cannot overload. The methods below, and `exited`, are typed.
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
  stop(options?: { timeoutMs?: number | undefined }): Promise<ExitResult>;
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
 * SPAWN_FAILED, UNSUPPORTED_PLATFORM, or RESTORE_FAILED. A startSidecar() issued while it runs
 * waits for it.
 */
export declare function restoreLeftovers(options?: RestoreOptions): Promise<ExitResult>;

/** What Electron passes to its quit events' listeners, as far as it is used. */
export interface QuitEvent {
  preventDefault(): void;
  readonly defaultPrevented?: boolean | undefined;
}

/** The part of Electron's app that says where the app is; Electron's app fits it. */
export interface AppLocation {
  readonly isPackaged?: boolean | undefined;
  getAppPath?: (() => string) | undefined;
}

/** The part of Electron's app that is used; Electron's app fits it. */
export interface ElectronAppLike extends AppLocation {
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
 * stops the sidecar and then goes through. A quit that another listener cancels is left
 * alone. Ends by itself once the sidecar has exited. Returns a function that removes it.
 */
export declare function bindElectronApp(
  app: ElectronAppLike,
  sidecar: Sidecar | Promise<Sidecar>,
  options?: BindOptions,
): () => void;

/**
 * The executable to run. Given a path, that path alone; otherwise, in order: under Electron,
 * process.resourcesPath/velmora-sidecar.exe (extra resources); this package's own bin/, with
 * app.asar mapped to app.asar.unpacked; and, when Electron's app (given, or reachable) is not
 * packaged, this package as Node resolves it from app.getAppPath(). A place that cannot be
 * computed in this process is skipped. Throws a SidecarError SPAWN_FAILED whose message and
 * `tried` name every place looked at, and whose message says what to do.
 */
export declare function resolveSidecarPath(path?: string | undefined, options?: { app?: AppLocation | undefined }): string;

/**
 * Whether the lock can run here: true on Windows. Elsewhere the executable is refused with
 * UNSUPPORTED_PLATFORM unless a command runs it.
 */
export declare function isSupported(): boolean;
