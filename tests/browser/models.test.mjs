// The README's first steps in headless Chromium, from an empty database to
// saved nodes: the first administrator and the people from the command line,
// the first sign-in landing on the list of models with what to do first, a
// form and a model made, two nodes added and given handlers in the node page,
// moved and removed from the keyboard, the list of models marking a node
// without handlers, and the diagram printing on one A4 page with 12 nodes.
// Screenshots land in artifacts/models/.
// Usage: node models.test.mjs PATH/TO/oapx1
import { startServer, launchChromium } from './harness.mjs';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';

const oapx1 = process.argv[2];
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts', 'models');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-models-'));
const dbFile = join(work, 'oa.db');
const db = `sqlite:${dbFile}`;

// Runs `oapx1 ARGS --db DB` with `input` on stdin; its result.
const command = (args, input = '') => spawnSync(oapx1, [...args, '--db', db], { input, encoding: 'utf8' });

function must(result, what) {
  assert.equal(result.status, 0, `${what}: ${result.stderr}`);
}

// Step 2: a department and two people, as the README's first steps make them.
function departmentAndPeople() {
  must(command(['dept', 'add', '总部']), 'dept add');
  const department = '总部';
  for (const [login, name] of [['zhaolei', '赵磊'], ['qianli', '钱丽']]) {
    must(command(['user', 'add', login, '--name', name, '--department', department, '--password-stdin'],
      'handler-password-1\n'), `user add ${login}`);
  }
}

function stored(node, column) {
  const out = execFileSync(oapx1, ['call', 'getnamefromid', '"OA_Flow_Model_JieDian"',
    JSON.stringify(column), '"OAID"', JSON.stringify(String(node)), '--db', db, '--session', 'UserName=boss']);
  return JSON.parse(out.toString()).result.value;
}

// Adds a node at the end from the keyboard and gives it a name and a handler
// found by `search` in the user picker; saves it. The new node's id.
async function addNode(page, name, search, login) {
  const list = page.frameLocator('iframe[name=FMain]');
  await list.locator('#addEnd').focus();
  await list.locator('#addEnd').press('Enter');
  const nodeFrame = page.frameLocator('iframe[name=FJieDian]');
  await nodeFrame.locator('#JieDianName[value="新节点"]').waitFor({ state: 'attached' });
  const node = page.frame({ name: 'FJieDian' });
  const id = await node.inputValue('#OAID');
  await node.fill('#JieDianName', name);
  const picker = nodeFrame.frameLocator('iframe[name=oapx1Modal]');
  await node.click('img[title="选择用户"] >> nth=0');
  await picker.locator('#q').fill(search);
  await picker.locator('#q').press('Enter');
  await picker.locator(`#found option[value=${login}]`).waitFor({ state: 'attached' });
  await picker.locator('#found').selectOption(login);
  await picker.locator('#add').click();
  await picker.locator('#ok').click();
  await Promise.all([node.waitForNavigation(), node.click('text=更新')]);
  await list.locator('a', { hasText: name }).waitFor();
  return id;
}

let server;
let browser;
try {
  // Steps 1 and 2: the database, its first administrator, a department and two people.
  must(command(['db', 'init', '--admin', 'boss', '--password-stdin'], 'boss-password-1\n'), 'db init --admin');
  departmentAndPeople();
  const started = await startServer(oapx1, db);
  server = started.server;
  const base = started.base;
  browser = await launchChromium();
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(`pageerror: ${e.message}`));
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.location().url.endsWith('/favicon.ico')) errors.push(`console: ${m.text()}`);
  });

  // Step 3: the first sign-in lands on the list of models, which says what to do first.
  await page.goto(`${base}/oa/`);
  await page.fill('#username', 'boss');
  await page.fill('#password', 'boss-password-1');
  await Promise.all([page.waitForURL(/models\.asp$/), page.click('button[type=submit]')]);
  assert.match(await page.locator('#firstSteps').innerText(), /还没有流程模型[\s\S]*oapx1 dept add 总部/);
  await page.screenshot({ path: join(artifacts, 'first-steps.png') });

  // Step 4: a form, from the keyboard.
  await page.click('text=新建一个表单');
  await page.locator('#newName').fill('请示单');
  await Promise.all([page.waitForLoadState('load'), page.locator('#newName').press('Enter')]);
  assert.match(await page.locator('#msgDis').innerText(), /表单已新建/);
  await page.click('#back');

  // Step 5: a model on it, which opens.
  await page.locator('#newName').fill('请示审批');
  await page.locator('#newForm').selectOption({ label: '请示单' });
  await Promise.all([page.waitForURL(/model\.asp\?OAID=\d+$/), page.click('#createModel')]);
  const model = new URL(page.url()).searchParams.get('OAID');

  // Step 6: two nodes, each added with the keyboard and given a handler.
  const first = await addNode(page, '部门审核', '赵', 'zhaolei');
  const second = await addNode(page, '领导审批', '钱', 'qianli');
  assert.equal(stored(first, 'JiaoSeUserList'), 'zhaolei');
  assert.equal(stored(second, 'JiaoSeUserList'), 'qianli');
  const list = page.frameLocator('iframe[name=FMain]');
  assert.equal(await list.locator('.mark').count(), 0);
  assert.deepEqual(await list.locator('#diagram g.node text.b').allTextContents(), ['1. 部门审核［开始节点］', '2. 领导审批']);
  await page.screenshot({ path: join(artifacts, 'model-page.png') });

  // Step 7: a third node without handlers is marked; moved up, then removed after asking.
  await list.locator('#addEnd').press('Enter');
  await list.locator('tr.sel').waitFor();
  const third = await list.locator('tr.sel').getAttribute('data-node');
  assert.match(await list.locator('tr.sel .mark').getAttribute('title'), /没有指定办理人/);
  assert.equal(await list.locator('#diagram g.node.bad').count(), 1);
  await list.locator(`button[name=up][value="${third}"]`).press('Enter');
  await list.locator('#msgDis', { hasText: '节点已上移' }).waitFor();
  assert.deepEqual(await list.locator('tr[data-node]').evaluateAll((rows) => rows.map((r) => r.dataset.node)),
    [first, third, second]);
  await page.goto(`${base}/oa/flow/model/models.asp`);
  assert.match(await page.locator(`tr[data-model="${model}"]`).innerText(), /请示审批\s+请示单\s+3\s+\(?.*boss.*▲ 1 个节点不能按现状保存/);
  await page.screenshot({ path: join(artifacts, 'models.png') });
  await page.goto(`${base}/oa/flow/model/model.asp?OAID=${model}`);
  await list.locator(`button[name=remove][value="${third}"]`).press('Enter');
  assert.match(await list.locator('#askRemove').innerText(), /确定删除节点“新节点”吗/);
  await list.locator('#confirmRemove button').press('Enter');
  await list.locator('#msgDis', { hasText: '节点已删除' }).waitFor();
  assert.equal(await list.locator('tr[data-node]').count(), 2);

  // The diagram of 12 nodes prints on one A4 page.
  const version = await list.locator('input[name=ver]').first().inputValue();
  let shown = version;
  for (let i = 0; i < 10; i += 1) {
    const reply = await page.request.post(`${base}/oa/flow/model/jiedianlist.asp?MOAID=${model}&save=true`,
      { form: { add: 'end', ver: shown }, headers: { Origin: base } });
    assert.equal(reply.status(), 200);
    shown = /name="ver" value="([0-9a-f]+)"/.exec(await reply.text())[1];
  }
  await page.goto(`${base}/oa/flow/model/diagram.asp?MOAID=${model}`);
  assert.equal(await page.locator('#diagram g.node').count(), 12);
  await page.screenshot({ path: join(artifacts, 'diagram.png'), fullPage: true });
  const pdf = (await page.pdf({ format: 'A4', printBackground: true, path: join(artifacts, 'diagram.pdf') }))
    .toString('latin1');
  assert.equal((pdf.match(/\/Type\s*\/Page[^s]/g) || []).length, 1, 'the diagram prints on one A4 page');
  assert.deepEqual(errors, []);
  console.log('models.test.mjs: ok');
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
