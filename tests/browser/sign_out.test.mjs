// Who is signed in, and the way out, in headless Chromium through the real
// server: lisi, without the workflow permission, lands on the 没有权限 page,
// which names him and offers 退出; pressing it signs him out (the workflow
// pages then send him to the login page).
// Usage: node sign_out.test.mjs PATH/TO/oapx1
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';
import { startServer, launchChromium } from './harness.mjs';

const [oapx1] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts', 'sign_out');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-sign-out-'));
const db = `sqlite:${join(work, 'oa.db')}`;

let server;
let browser;
try {
  execFileSync(oapx1, ['db', 'init', '--demo', '--db', db], { stdio: 'ignore' });
  const started = await startServer(oapx1, db);
  server = started.server;
  const { base } = started;
  browser = await launchChromium();
  const page = await browser.newPage({ viewport: { width: 900, height: 420 } });
  await page.goto(`${base}/oa/login.asp`);
  await page.fill('#username', 'lisi');
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForURL(/models\.asp/), page.click('button[type=submit]')]);
  assert.match(await page.textContent('h1'), /没有权限/);
  assert.equal(await page.textContent('#signed-in-user'), '李四（lisi）');
  await page.screenshot({ path: join(artifacts, 'forbidden-signed-in.png') });
  await Promise.all([page.waitForURL(/login\.asp/), page.click('#sign-out')]);
  await page.screenshot({ path: join(artifacts, 'signed-out.png') });
  // Signed out: the model page now only sends the browser to the login page.
  const after = await page.request.get(`${base}/oa/flow/model/model.asp?OAID=1`);
  assert.equal(after.status(), 200);
  assert.match(await after.text(), /login\.asp/);
  console.log(`sign-out test passed; screenshots in ${artifacts}`);
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
