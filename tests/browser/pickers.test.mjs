// The node settings page inside the workflow model page, with its pickers, in
// headless Chromium: handlers chosen in the user picker (one through the
// tree, one through the search), a department from the department picker,
// the distribution users cleared with 清空, a cancelled picker changing
// nothing, and the node list refreshed after the save without a script error.
// Usage: node pickers.test.mjs PATH/TO/oapx1
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';
import { startServer } from './harness.mjs';

const oapx1 = process.argv[2];
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-pickers-'));
const db = `sqlite:${join(work, 'oa.db')}`;

// The stored value of one column of a node, read through the page class.
function stored(node, column) {
  const out = execFileSync(oapx1, ['call', 'getnamefromid', '"OA_Flow_Model_JieDian"',
    JSON.stringify(column), '"OAID"', JSON.stringify(String(node)), '--db', db, '--session', 'UserName=admin']);
  return JSON.parse(out.toString()).result.value;
}

let server;
let browser;
try {
  execFileSync(oapx1, ['db', 'init', '--demo', '--db', db], { stdio: 'ignore' });
  const started = await startServer(oapx1, db);
  server = started.server;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  const page = await browser.newPage({ viewport: { width: 1000, height: 720 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(`pageerror: ${e.message}`));
  // The browser's own request for a site icon is not the page's doing.
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.location().url.endsWith('/favicon.ico')) {
      errors.push(`console: ${m.text()} ${m.location().url}`);
    }
  });

  // Signing in lands on the list of models; node 4 of the first model has no handlers yet.
  await page.goto(`${started.base}/oa/login.asp`);
  await page.fill('#username', 'admin');
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForURL(/models\.asp/), page.click('button[type=submit]')]);
  await page.click('a[href="model.asp?OAID=1"]');
  const list = page.frameLocator('iframe[name=FMain]');
  await list.locator('a', { hasText: '归档' }).click();
  const nodeFrame = page.frameLocator('iframe[name=FJieDian]');
  await assert.doesNotReject(nodeFrame.locator('#OAID[value="4"]').waitFor({ state: 'attached' }));
  const node = page.frame({ name: 'FJieDian' });
  const picker = nodeFrame.frameLocator('iframe[name=oapx1Modal]');

  // Handlers: 李四 through the tree, then 赵六 through the search, by keyboard.
  await node.click('img[title="选择用户"] >> nth=0');
  await picker.locator('li[data-name="财务部"] > .node').click();
  await picker.locator('#found option[value=lisi]').waitFor({ state: 'attached' });
  await picker.locator('#found').selectOption('lisi');
  await picker.locator('#add').click();
  await picker.locator('#q').fill('赵');
  await picker.locator('#q').press('Enter');
  await picker.locator('#found option[value=zhaoliu]').waitFor({ state: 'attached' });
  await picker.locator('#found').selectOption('zhaoliu');
  await picker.locator('#found').press('Enter');
  await picker.locator('#ok').click();
  assert.equal(await node.inputValue('input[name=BanLiUser]'), 'lisi;zhaoliu');
  assert.equal(await node.inputValue('#BanLiUserDis'), '李四,赵六');

  // A department through the department picker.
  await node.click('img[title="选择部门"]');
  await picker.locator('li[data-name="技术部"] > .node').click();
  await picker.locator('#add').click();
  await picker.locator('#ok').click();
  assert.equal(await node.inputValue('input[name=FenFaBuMen]'), ';3;');
  assert.equal(await node.inputValue('#FenFaBuMenDis'), '技术部');

  // Distribution users: chosen, then a cancelled picker changes nothing
  // (by its button and by Escape), then 清空 clears them.
  await node.click('img[title="选择用户"] >> nth=1');
  await picker.locator('li[data-name="市场部"] > .node').click();
  await picker.locator('#found option[value=sunqi]').waitFor({ state: 'attached' });
  await picker.locator('#found').selectOption(['sunqi', 'zhouba']);
  await picker.locator('#add').click();
  await picker.locator('#ok').click();
  assert.equal(await node.inputValue('input[name=FenFaUser]'), 'sunqi;zhouba');
  await node.click('img[title="选择用户"] >> nth=1');
  await picker.locator('#chosen option').first().waitFor({ state: 'attached' });
  assert.deepEqual(await picker.locator('#chosen option').evaluateAll((os) => os.map((o) => o.value)),
    ['sunqi', 'zhouba']);
  await picker.locator('#chosen').selectOption('sunqi');
  await picker.locator('#remove').click();
  await picker.locator('#cancel').click();
  await node.click('img[title="选择用户"] >> nth=1');
  await picker.locator('#chosen').selectOption('zhouba');
  await picker.locator('#chosen').press('Delete');
  await picker.locator('#chosen').press('Escape');
  assert.equal(await node.locator('iframe[name=oapx1Modal]').count(), 0);
  assert.equal(await node.inputValue('input[name=FenFaUser]'), 'sunqi;zhouba');
  assert.equal(await node.inputValue('#FenFaUserDis'), '孙七,周八');
  await node.click('img[title="清空"] >> nth=0');
  assert.equal(await node.inputValue('input[name=FenFaUser]'), '');
  assert.equal(await node.inputValue('#FenFaUserDis'), '');

  // Save under a new name: stored lists, names in order, the node list refreshed.
  await node.fill('#JieDianName', '存档');
  await Promise.all([node.waitForNavigation(), node.click('text=更新')]);
  await list.locator('a', { hasText: '存档' }).waitFor();
  assert.equal(stored(4, 'JiaoSeUserList'), 'lisi;zhaoliu');
  assert.equal(stored(4, 'FenFaBuMen'), ';3;');
  assert.equal(stored(4, 'FenFaUser'), '');
  const saved = page.frame({ name: 'FJieDian' });
  assert.equal(await saved.inputValue('#BanLiUserDis'), '李四,赵六');
  assert.equal(await saved.inputValue('#FenFaBuMenDis'), '技术部');
  await page.screenshot({ path: join(artifacts, 'pickers.png') });
  assert.deepEqual(errors, []);

  // A browser that runs VBScript (document mode below 11) keeps the page's own
  // functions and handlers: the shared script defines and rewrites nothing.
  const oldContext = await browser.newContext({ storageState: await page.context().storageState() });
  const old = await oldContext.newPage();
  await old.addInitScript(() => Object.defineProperty(document, 'documentMode', { value: 10 }));
  await old.goto(`${started.base}/oa/flow/model/jiedian.asp?OAID=4`);
  assert.deepEqual(await old.evaluate(() => [typeof window.openWinU, typeof window.SetEmpty,
    document.querySelector('img[title="清空"]').onclick, typeof window.orderbyTable]),
  ['undefined', 'undefined', null, 'function']);
  console.log('picker test passed; screenshot in', join(artifacts, 'pickers.png'));
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
