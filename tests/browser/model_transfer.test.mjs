// Export and import of a workflow model as an administrator does it in the
// browser, in headless Chromium through the real server: the export link
// downloads the model file; the import page takes the file chosen, shows the
// difference, changes nothing until 确定, and then records the change.
// Usage: node model_transfer.test.mjs PATH/TO/oapx1
import { startServer, launchChromium } from './harness.mjs';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';

const [oapx1] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts', 'model_transfer');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-transfer-'));
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
  const base = started.base;
  browser = await launchChromium();
  const context = await browser.newContext({ viewport: { width: 1000, height: 720 }, acceptDownloads: true });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(`pageerror: ${e.message}`));

  await page.goto(`${base}/oa/login.asp`);
  await page.fill('#username', 'admin');
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForURL(/models\.asp/), page.click('button[type=submit]')]);

  // The export, as a link on a page of the application downloads it.
  await page.goto(`${base}/oa/flow/model/import.asp`);
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.evaluate((href) => {
      const a = document.createElement('a');
      a.href = href;
      document.body.appendChild(a);
      a.click();
    }, `${base}/oa/flow/model/export.asp?OAID=1`),
  ]);
  assert.match(download.suggestedFilename(), /^model-[0-9a-f-]{36}\.json$/);
  const file = join(work, 'model.json');
  await download.saveAs(file);
  const model = JSON.parse(readFileSync(file, 'utf8'));
  assert.equal(model.models[0].name, '公司发文流程');

  // 部门审核 waits 3 days, and 周八 handles it instead of 王五.
  const review = model.models[0].nodes[1];
  review.WaitTime = '3';
  review.JiaoSeUserList = ['lisi', 'zhouba'];
  writeFileSync(file, JSON.stringify(model, null, 2));

  await page.goto(`${base}/oa/flow/model/import.asp`);
  await page.setInputFiles('#ModelFileChooser', file);
  await page.waitForFunction(() => document.getElementById('ModelFile').value.includes('zhouba'));
  await Promise.all([page.waitForNavigation(), page.click('text=预览差异')]);
  assert.equal(await page.textContent('#difference'),
    '流程模型 “公司发文流程”\n  部门审核: 时限 1 天 → 3 天; 选择用户 +周八 −王五');
  assert.equal(stored(2, 'WaitTime'), '1');  // nothing yet
  await page.screenshot({ path: join(artifacts, 'difference.png') });

  // 确定 has the focus: Enter applies what was shown.
  await Promise.all([page.waitForNavigation(), page.keyboard.press('Enter')]);
  assert.match(await page.textContent('#msgDis'), /系统提示：流程模型已导入/);
  assert.equal(stored(2, 'WaitTime'), '3');
  assert.equal(stored(2, 'JiaoSeUserList'), ';lisi;zhouba;');
  await page.screenshot({ path: join(artifacts, 'imported.png') });
  assert.deepEqual(errors, []);
  console.log(`model transfer passed; screenshots in ${artifacts}`);
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
