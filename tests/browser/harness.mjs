// What a browser test needs around its pages: a server of the program under
// test on a free port over a database, and headless Chromium.
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';

// Starts `oapx1 serve` on a free loopback port over `db`; resolves to the
// process and its base URL ("http://127.0.0.1:PORT") once it listens.
export function startServer(oapx1, db) {
  const server = spawn(oapx1, ['serve', '--listen', '127.0.0.1:0', '--db', db, '--threads', '2'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let text = '';
    server.stdout.on('data', (chunk) => {
      text += chunk;
      const m = text.match(/listening on (http:\/\/[^/\s]+)\//);
      if (m) resolve({ server, base: m[1] });
    });
    server.on('exit', (code) => reject(new Error(`oapx1 serve exited with ${code}`)));
  });
}

// Headless Chromium: $CHROMIUM, else /usr/bin/chromium.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
}
