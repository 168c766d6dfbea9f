// The few parts of Electron's own declarations that the recipes use, as Electron declares them.
declare module 'electron' {
  interface Event {
    preventDefault(): void;
    readonly defaultPrevented: boolean;
  }
  interface App {
    readonly isPackaged: boolean;
    getAppPath(): string;
    whenReady(): Promise<void>;
    on(event: 'before-quit', listener: (event: Event) => void): this;
    on(event: 'will-quit', listener: (event: Event) => void): this;
    on(event: 'window-all-closed', listener: () => void): this;
    removeListener(event: 'before-quit', listener: (event: Event) => void): this;
    removeListener(event: 'will-quit', listener: (event: Event) => void): this;
    removeListener(event: 'window-all-closed', listener: () => void): this;
    quit(): void;
  }
  export const app: App;
  export class BrowserWindow {
    constructor(options?: { width?: number; height?: number; frame?: boolean; resizable?: boolean; alwaysOnTop?: boolean });
    loadURL(url: string): Promise<void>;
    destroy(): void;
  }
  export const dialog: {
    showMessageBox(options: { type?: 'none' | 'info' | 'error' | 'question' | 'warning'; message: string; buttons?: string[] }):
      Promise<{ response: number }>;
  };
}
