// The workflow node settings page in a real browser: sign in through the demo
// login, open a node, change it and save it, and be stopped by the empty-name
// check. Usage: node node_page.test.mjs PATH/TO/oapx1
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';
import { startServer } from './harness.mjs';

const oapx1 = process.argv[2];
if (!oapx1) {
  console.error('usage: node node_page.test.mjs PATH/TO/oapx1');
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-browser-'));
const db = `sqlite:${join(work, 'oa.db')}`;

// The stored value of one column of node 1, read through the page class itself.
function stored(column) {
  const out = execFileSync(oapx1, ['call', 'getnamefromid', '"OA_Flow_Model_JieDian"',
    JSON.stringify(column), '"OAID"', '"1"', '--db', db, '--session', 'UserName=admin']);
  return JSON.parse(out.toString()).result.value;
}

let server;
let browser;
try {
  execFileSync(oapx1, ['db', 'init', '--demo', '--db', db], { stdio: 'ignore' });
  const started = await startServer(oapx1, db);
  server = started.server;
  const base = started.base;

  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage();

  // Without a session the page sends the browser to the login.
  await page.goto(`${base}/oa/flow/model/jiedian.asp?OAID=1`);
  await page.waitForURL(/login\.asp/);
  await page.fill('#username', 'admin');
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForURL(/models\.asp/), page.click('button[type=submit]')]);
  // Signing in lands on the list of models; the node page is opened on its own here.
  await page.goto(`${base}/oa/flow/model/jiedian.asp?OAID=1`);

  // The node as stored: its name, handlers and ticked boxes.
  assert.equal(await page.inputValue('#JieDianName'), '拟稿');
  assert.match(await page.inputValue('#BanLiUserDis'), /\S/);
  assert.equal(await page.isChecked('#iszhuanban'), true);
  assert.equal(await page.isChecked('#youjiantixing'), true);
  assert.equal(await page.isChecked('#isgoutong'), false);

  // Change the name to Chinese text, untick a box and press 更新.
  await page.fill('#JieDianName', '部门审核');
  await page.uncheck('#iszhuanban');
  await Promise.all([page.waitForNavigation(), page.click('text=更新')]);
  assert.match(await page.textContent('#msgDis'), /系统提示：流程流程节点设置保存成功！/);
  assert.equal(await page.inputValue('#JieDianName'), '部门审核');
  assert.equal(await page.isChecked('#iszhuanban'), false);
  assert.equal(stored('JieDianName'), '部门审核');
  assert.equal(stored('iszhuanban'), '0');
  assert.equal(stored('youjiantixing'), '1');
  await page.screenshot({ path: join(artifacts, 'node_page.png'), fullPage: true });

  // An empty name is refused in the browser: nothing is posted.
  await page.fill('#JieDianName', '');
  const dialog = new Promise((resolve) => page.once('dialog', async (d) => {
    const text = d.message();
    await d.accept();
    resolve(text);
  }));
  await page.click('text=更新');
  assert.equal(await dialog, '节点名称不能为空！');
  assert.equal(stored('JieDianName'), '部门审核');
  console.log('browser test passed; screenshot in', join(artifacts, 'node_page.png'));
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
