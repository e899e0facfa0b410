// The node settings page as an editor, in headless Chromium through the real
// server: pickers open with what the node has; emptying a list is confirmed;
// a save lost to an expired session is offered back; unsaved edits are
// guarded; the save message is shown by 更新; the demo nodes save as they
// stand, a missing model is named and the click-only controls are reached by
// keyboard; two tabs do not overwrite each other; a refused save is restored
// field by field over another editor's changes; the node list keeps long and
// blank names in view. Each rule is its own scenario, named by the second argument.
// Usage: node editor.test.mjs PATH/TO/oapx1 SCENARIO
import { chromium } from 'playwright-core';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';

const [oapx1, scenario] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const artifacts = join(here, 'artifacts', 'editor');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'oapx1-editor-'));
const dbFile = join(work, 'oa.db');
const db = `sqlite:${dbFile}`;

// The stored value of one column of a node, read through the page class.
function stored(node, column) {
  const out = execFileSync(oapx1, ['call', 'getnamefromid', '"OA_Flow_Model_JieDian"',
    JSON.stringify(column), '"OAID"', JSON.stringify(String(node)), '--db', db, '--session', 'UserName=admin']);
  return JSON.parse(out.toString()).result.value;
}

// The non-empty pieces of a stored ";"-separated list.
const listOf = (text) => String(text ?? '').split(';').filter((piece) => piece !== '');

function startServer() {
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

// The next dialog of the page (alert, confirm or beforeunload): its type and
// text, accepted or dismissed.
function nextDialog(page, accept = true) {
  return new Promise((resolve) => page.once('dialog', async (d) => {
    const seen = { type: d.type(), message: d.message() };
    if (accept) await d.accept(); else await d.dismiss();
    resolve(seen);
  }));
}

async function signIn(page, base, user = 'admin') {
  await page.goto(`${base}/oa/login.asp`);
  await page.fill('#username', user);
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForURL(/models\.asp/), page.click('button[type=submit]')]);
  await page.goto(`${base}/oa/flow/model/model.asp?OAID=1`);
}

// Opens a node from the model page's node list and gives the node frame.
async function openNode(page, name, id) {
  await page.frameLocator('iframe[name=FMain]').locator('a', { hasText: name }).click();
  await page.frameLocator('iframe[name=FJieDian]').locator(`#OAID[value="${id}"]`).waitFor({ state: 'attached' });
  return page.frame({ name: 'FJieDian' });
}

const chosenValues = (picker) => picker.locator('#chosen option').evaluateAll((os) => os.map((o) => o.value));
const SAVED = '系统提示：流程流程节点设置保存成功！';

async function save(node) {
  await Promise.all([node.waitForNavigation(), node.click('text=更新')]);
}

// Another person, signed in in a browser context of their own, opens `name`
// from their model page, changes it with `edit` and saves.
async function savedByAnother(page, base, user, name, id, edit) {
  const context = await page.context().browser().newContext({ viewport: { width: 1000, height: 720 } });
  const theirs = await context.newPage();
  await signIn(theirs, base, user);
  const node = await openNode(theirs, name, id);
  await edit(node);
  await save(node);
  assert.match(await theirs.frame({ name: 'FJieDian' }).textContent('#msgDis'), new RegExp(SAVED));
  await context.close();
}

// The offer to restore a refused save, once shown: which case it names, and
// that it lies below the page's title.
async function restoreOffer(page, reason) {
  const node = page.frame({ name: 'FJieDian' });
  const bar = page.frameLocator('iframe[name=FJieDian]').locator('#oapx1-restore');
  await bar.waitFor();
  assert.equal(await bar.getAttribute('data-reason'), reason);
  const title = await node.locator('p.view').boundingBox();
  const box = await bar.boundingBox();
  assert.ok(box.y >= title.y + title.height, JSON.stringify({ title, box }));
  return bar;
}

const scenarios = {
  // The handler picker of 部门审核 opens with 李四 and 王五; adding 周八 keeps
  // them. The distribution and department pickers open with their lists, and
  // an account holding "-" is preselected whole.
  async pickers_start_from_the_field(page, base) {
    execFileSync('sqlite3', [dbFile, "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState, ordernumber) "
      + "values (8, 'li-ming', '李明', 4, '1', 8); update OA_Flow_Model_JieDian set FenFaUser=';li-ming;wangwu;' where OAID=1"]);
    await signIn(page, base);
    let node = await openNode(page, '部门审核', 2);
    const picker = page.frameLocator('iframe[name=FJieDian]').frameLocator('iframe[name=oapx1Modal]');
    await node.click('img[title="选择用户"] >> nth=0');
    await picker.locator('#chosen').waitFor();
    assert.deepEqual(await chosenValues(picker), ['lisi', 'wangwu']);
    await picker.locator('#q').fill('zhou');
    await picker.locator('#q').press('Enter');
    await picker.locator('#found option[value=zhouba]').dblclick();
    await picker.locator('#ok').click();
    assert.equal(await node.inputValue('input[name=BanLiUser]'), 'lisi;wangwu;zhouba');
    assert.equal(await node.inputValue('#BanLiUserDis'), '李四,王五,周八');
    await save(node);
    assert.deepEqual(listOf(stored(2, 'JiaoSeUserList')), ['lisi', 'wangwu', 'zhouba']);

    node = await openNode(page, '拟稿', 1);
    await node.click('img[title="选择用户"] >> nth=1');
    await picker.locator('#chosen').waitFor();
    assert.deepEqual(await chosenValues(picker), ['li-ming', 'wangwu']);
    assert.deepEqual(await picker.locator('#chosen option').allTextContents(), ['李明', '王五']);
    await picker.locator('#cancel').click();
    await node.click('img[title="选择部门"]');
    await picker.locator('#chosen').waitFor();
    assert.deepEqual(await chosenValues(picker), ['2', '3']);
    await picker.locator('#ok').click();
    assert.equal(await node.inputValue('input[name=FenFaBuMen]'), ';2;3;');
    assert.equal(await node.inputValue('#FenFaBuMenDis'), '财务部,技术部');
    await page.screenshot({ path: join(artifacts, 'pickers_start_from_the_field.png') });
  },

  // Emptying a list that had entries asks once; declining keeps the picker
  // open; an empty department choice stores the empty text, never ";;". A
  // list that was empty is confirmed empty without a question.
  async emptying_a_list_is_confirmed(page, base) {
    await signIn(page, base);
    const node = await openNode(page, '拟稿', 1);
    const picker = page.frameLocator('iframe[name=FJieDian]').frameLocator('iframe[name=oapx1Modal]');
    const dialogs = [];
    page.on('dialog', (d) => dialogs.push(d.message()));
    await node.click('img[title="选择部门"]');
    await picker.locator('#chosen').selectOption(['2', '3']);
    await picker.locator('#remove').click();
    let asked = nextDialog(page, false);
    await picker.locator('#ok').click();
    assert.deepEqual(await asked, { type: 'confirm', message: '确定清空？' });
    assert.equal(await node.locator('iframe[name=oapx1Modal]').count(), 1);
    assert.equal(await node.inputValue('input[name=FenFaBuMen]'), ';2;3;');
    asked = nextDialog(page, true);
    await picker.locator('#ok').click();
    await asked;
    assert.equal(await node.locator('iframe[name=oapx1Modal]').count(), 0);
    assert.equal(await node.inputValue('input[name=FenFaBuMen]'), '');
    assert.equal(await node.inputValue('#FenFaBuMenDis'), '');
    assert.equal(dialogs.length, 2);

    // The department picker now opens empty: confirming asks nothing.
    await node.click('img[title="选择部门"]');
    await picker.locator('#chosen').waitFor();
    await picker.locator('#ok').click();
    assert.equal(await node.locator('iframe[name=oapx1Modal]').count(), 0);
    assert.equal(dialogs.length, 2);
    await save(node);
    assert.equal(stored(1, 'FenFaBuMen') ?? '', '');

    // The handler list asks the same before it empties.
    const again = page.frame({ name: 'FJieDian' });
    await again.click('img[title="选择用户"] >> nth=0');
    await picker.locator('#chosen option').first().waitFor({ state: 'attached' });
    await picker.locator('#chosen').selectOption(await chosenValues(picker));
    await picker.locator('#chosen').press('Delete');
    asked = nextDialog(page, true);
    await picker.locator('#ok').click();
    assert.equal((await asked).message, '确定清空？');
    assert.equal(await again.inputValue('input[name=BanLiUser]'), '');
  },

  // A save posted after the session expired lands on the login page; back on
  // the node (by the model page's JieDianID), the edits are offered and
  // restored, and saving them again clears the offer.
  async a_save_lost_to_an_expired_session_is_offered_back(page, base) {
    await signIn(page, base);
    let node = await openNode(page, '部门审核', 2);
    await node.fill('#JieDianName', '部门复核');
    await node.uncheck('#iszhuanban');
    await page.context().clearCookies();
    await Promise.all([page.waitForURL(/login\.asp/), node.click('text=更新')]);
    assert.equal(stored(2, 'JieDianName'), '部门审核');
    await page.fill('#username', 'admin');
    await page.fill('#password', 'demo');
    await Promise.all([page.waitForURL(/model\.asp/), page.click('button[type=submit]')]);
    await page.goto(`${base}/oa/flow/model/model.asp?OAID=1&JieDianID=2`);
    const frame = page.frameLocator('iframe[name=FJieDian]');
    await frame.locator('#OAID[value="2"]').waitFor({ state: 'attached' });
    node = page.frame({ name: 'FJieDian' });
    const bar = await restoreOffer(page, 'expired');
    assert.match(await bar.textContent(), /未能保存：登录已超时/);
    assert.equal(await node.inputValue('#JieDianName'), '部门审核');
    await page.screenshot({ path: join(artifacts, 'restore_offer.png') });
    await bar.locator('button', { hasText: '恢复' }).click();
    assert.equal(await node.inputValue('#JieDianName'), '部门复核');
    assert.equal(await node.isChecked('#iszhuanban'), false);
    assert.equal(await bar.count(), 0);
    await save(node);
    assert.equal(stored(2, 'JieDianName'), '部门复核');
    assert.equal(stored(2, 'iszhuanban'), '0');

    // Once saved, coming back offers nothing; a node given alone opens in its model.
    await page.goto(`${base}/oa/flow/model/model.asp?JieDianID=2`);
    await frame.locator('#OAID[value="2"]').waitFor({ state: 'attached' });
    await page.frame({ name: 'FJieDian' }).waitForLoadState('load');
    assert.equal(await frame.locator('#oapx1-restore').count(), 0);
  },

  // A click in the node list over unsaved edits asks first; declining keeps
  // the edits, accepting opens the node without a second question. Closing
  // the page with unsaved edits asks the browser's question.
  async unsaved_edits_are_guarded(page, base) {
    await signIn(page, base);
    let node = await openNode(page, '拟稿', 1);
    const list = page.frameLocator('iframe[name=FMain]');
    const dialogs = [];
    page.on('dialog', (d) => dialogs.push(d.type()));
    // Enter in the name saves through the page's checks instead of posting a
    // reload that would drop the edits.
    await node.fill('#JieDianName', '拟稿一');
    await Promise.all([node.waitForNavigation(), node.locator('#JieDianName').press('Enter')]);
    assert.equal(stored(1, 'JieDianName'), '拟稿一');
    // Without edits a click simply opens the node.
    node = await openNode(page, '部门审核', 2);
    assert.deepEqual(dialogs, []);
    await node.fill('#JieDianName', '未保存');
    let asked = nextDialog(page, false);
    await list.locator('a', { hasText: '归档' }).click();
    assert.equal((await asked).type, 'confirm');
    assert.equal(await node.inputValue('#JieDianName'), '未保存');
    assert.equal(await page.frame({ name: 'FJieDian' }).inputValue('#OAID'), '2');
    asked = nextDialog(page, true);
    await list.locator('a', { hasText: '归档' }).click();
    await asked;
    await page.frameLocator('iframe[name=FJieDian]').locator('#OAID[value="4"]').waitFor({ state: 'attached' });
    assert.deepEqual(dialogs, ['confirm', 'confirm']);
    assert.equal(stored(2, 'JieDianName'), '部门审核');

    // A picker's change counts as an edit; leaving the page then asks.
    node = page.frame({ name: 'FJieDian' });
    await node.click('img[title="选择部门"]');
    const picker = page.frameLocator('iframe[name=FJieDian]').frameLocator('iframe[name=oapx1Modal]');
    await picker.locator('li[data-name="技术部"] > .node').click();
    await picker.locator('#add').click();
    await picker.locator('#ok').click();
    const leave = () => page.evaluate(() => { setTimeout(() => { location.href = '/oa/login.asp'; }, 0); });
    asked = nextDialog(page, false);
    await leave();
    assert.equal((await asked).type, 'beforeunload');
    assert.equal(await page.frame({ name: 'FJieDian' }).inputValue('input[name=FenFaBuMen]'), ';3;');
    asked = nextDialog(page, true);
    await Promise.all([page.waitForURL(/login\.asp/), leave()]);
    assert.equal((await asked).type, 'beforeunload');
  },

  // The save message shows by 更新 for a few seconds and in its own cell; an
  // edit clears both.
  async the_save_message_is_seen(page, base) {
    await signIn(page, base);
    let node = await openNode(page, '拟稿', 1);
    await save(node);
    node = page.frame({ name: 'FJieDian' });
    const note = page.frameLocator('iframe[name=FJieDian]').locator('#oapx1-save-note');
    await note.waitFor();
    assert.equal(await note.textContent(), SAVED);
    assert.match(await node.textContent('#msgDis'), new RegExp(SAVED));
    // Beside 更新: just below it, within its right edge.
    const at = await node.locator('td[onclick="check()"]').boundingBox();
    const box = await note.boundingBox();
    assert.ok(box.y >= at.y + at.height && box.y - (at.y + at.height) < 20, JSON.stringify({ at, box }));
    await page.screenshot({ path: join(artifacts, 'save_message.png') });
    await note.waitFor({ state: 'detached', timeout: 15000 });
    assert.match(await node.textContent('#msgDis'), new RegExp(SAVED));

    await save(node);
    node = page.frame({ name: 'FJieDian' });
    await note.waitFor();
    await node.locator('#JieDianName').press('End');
    await node.locator('#JieDianName').type('稿');
    assert.equal(await note.count(), 0);
    assert.equal((await node.textContent('#msgDis')).trim(), '');
  },

  // Each demo node that names its handlers saves as it stands; a model that
  // does not exist is named in a GBK page; the picker icons, 清空 and 更新
  // are reached by Tab and answer Enter.
  async demo_nodes_save_and_controls_take_the_keyboard(page, base) {
    await signIn(page, base);
    for (const [name, id] of [['拟稿', 1], ['部门审核', 2], ['领导审批', 3]]) {
      const node = await openNode(page, name, id);
      const alerts = [];
      const onDialog = async (d) => { alerts.push(d.message()); await d.dismiss(); };
      page.on('dialog', onDialog);
      await save(node);
      page.off('dialog', onDialog);
      assert.deepEqual(alerts, [], name);
      assert.match(await page.frame({ name: 'FJieDian' }).textContent('#msgDis'), new RegExp(SAVED), name);
    }

    // The bytes as served (a page's body in the browser is already decoded).
    const missing = await page.request.get(`${base}/oa/flow/model/model.asp?OAID=999`);
    assert.match(missing.headers()['content-type'], /charset=gb/i);
    assert.ok((await missing.body()).includes(Buffer.from([0xb2, 0xbb, 0xb4, 0xe6, 0xd4, 0xda])));  // 不存在 in GBK
    await page.goto(`${base}/oa/flow/model/model.asp?OAID=999`);
    assert.match(await page.textContent('#msgDis'), /流程模型（999）不存在/);
    await page.screenshot({ path: join(artifacts, 'missing_model.png') });

    await page.goto(`${base}/oa/flow/model/model.asp?OAID=1`);
    const node = await openNode(page, '拟稿', 1);
    // Walk the tab order of the node page once, from its start.
    const order = [];
    await node.evaluate(() => { document.body.setAttribute('tabindex', '-1'); document.body.focus(); });
    for (let i = 0; i < 40; i++) {
      await page.keyboard.press('Tab');
      const seen = await node.evaluate(() => {
        const e = document.activeElement;
        if (!e || e === document.body || e.oapx1Walked) return null;
        e.oapx1Walked = true;
        return e.getAttribute('aria-label') || e.name || e.id || e.tagName;
      });
      if (seen === null) break;
      order.push(seen);
    }
    const count = (label) => order.filter((seen) => seen === label).length;
    assert.deepEqual([count('更新'), count('选择用户'), count('清空'), count('选择部门')], [1, 2, 2, 1], String(order));
    assert.equal(order[0], '更新');

    // Enter on the first 选择用户 opens the handler picker; Escape closes it.
    await node.locator('img[title="选择用户"]').first().focus();
    await page.screenshot({ path: join(artifacts, 'keyboard.png') });
    await page.keyboard.press('Enter');
    const picker = page.frameLocator('iframe[name=FJieDian]').frameLocator('iframe[name=oapx1Modal]');
    await picker.locator('#chosen').waitFor();
    await page.keyboard.press('Escape');
    assert.equal(await node.locator('iframe[name=oapx1Modal]').count(), 0);
    await node.locator('td[onclick="check()"]').focus();
    await Promise.all([node.waitForNavigation(), page.keyboard.press('Enter')]);
    assert.match(await page.frame({ name: 'FJieDian' }).textContent('#msgDis'), new RegExp(SAVED));
  },

  // Two tabs of one session on 拟稿: the later save of the tab opened before
  // the other's save is refused, since each tab posts back the version it
  // was shown.
  two_tabs_do_not_overwrite_each_other: async (page, base) => {
    await signIn(page, base);
    const a = await openNode(page, '拟稿', 1);
    const other = await page.context().newPage();
    await other.goto(`${base}/oa/flow/model/model.asp?OAID=1`);
    const b = await openNode(other, '拟稿', 1);
    await a.fill('input[name=JieDianName]', '拟稿甲');
    await save(a);
    assert.match(await page.frame({ name: 'FJieDian' }).textContent('#msgDis'), new RegExp(SAVED));
    await b.fill('input[name=JieDianName]', '拟稿乙');
    await save(b);
    const refused = await other.frame({ name: 'FJieDian' }).textContent('body');
    assert.doesNotMatch(refused, new RegExp(SAVED));
    assert.match(refused, /修改/);
    await other.screenshot({ path: join(artifacts, 'two-tabs.png') });
    assert.equal(stored(1, 'JieDianName'), '拟稿甲');
    await other.close();
  },

  // A unticks 允许驳回 on 部门审核 and saves; B, who opened the node before,
  // renames it and is refused, told what A changed; restoring brings back
  // B's name only, over A's change, and saving keeps both.
  async a_conflict_restores_only_the_fields_changed(page, base) {
    await signIn(page, base);
    const b = await openNode(page, '部门审核', 2);
    await savedByAnother(page, base, 'zhangsan', '部门审核', 2, (node) => node.uncheck('#isBoHui'));
    assert.equal(stored(2, 'isBoHui'), '0');
    await b.fill('#JieDianName', '部门复核');
    await save(b);
    const node = page.frame({ name: 'FJieDian' });
    assert.match(await node.textContent('#msgDis'), /张三（zhangsan）修改.*您打开之后的改动：允许驳回：勾选 → 未勾选。/);
    const bar = await restoreOffer(page, 'conflict');
    assert.match(await bar.textContent(), /已被他人修改.*允许驳回：勾选 → 未勾选/);
    assert.equal(await bar.locator('fieldset').count(), 0);
    await page.screenshot({ path: join(artifacts, 'conflict_offer.png') });
    await bar.locator('button', { hasText: '恢复' }).click();
    assert.equal(await node.inputValue('#JieDianName'), '部门复核');
    assert.equal(await node.isChecked('#isBoHui'), false);
    await save(node);
    assert.match(await page.frame({ name: 'FJieDian' }).textContent('#msgDis'), new RegExp(SAVED));
    assert.deepEqual([stored(2, 'JieDianName'), stored(2, 'isBoHui')], ['部门复核', '0']);
  },

  // A and B both rename 部门审核; B, refused, must choose which name to keep
  // before restoring; B's other change comes back as it is.
  async both_changed_one_field_and_the_editor_chooses(page, base) {
    await signIn(page, base);
    const b = await openNode(page, '部门审核', 2);
    await savedByAnother(page, base, 'zhangsan', '部门审核', 2, (node) => node.fill('#JieDianName', '部门初审'));
    await b.fill('#JieDianName', '部门复审');
    await b.uncheck('#iszhuanban');
    await save(b);
    const node = page.frame({ name: 'FJieDian' });
    assert.match(await node.textContent('#msgDis'), /节点名称：部门审核 → 部门初审/);
    const bar = await restoreOffer(page, 'conflict');
    const choice = bar.locator('fieldset[data-field=JieDianName]');
    assert.match(await choice.textContent(), /节点名称.*我的：部门复审.*对方的：部门初审/);
    await bar.locator('button', { hasText: '恢复' }).click();
    assert.match(await bar.locator('.oapx1-hint').textContent(), /请先/);
    assert.equal(await node.inputValue('#JieDianName'), '部门初审');
    await page.screenshot({ path: join(artifacts, 'conflict_choice.png') });
    await choice.locator('label', { hasText: '我的' }).click();
    await bar.locator('button', { hasText: '恢复' }).click();
    assert.equal(await bar.count(), 0);
    assert.equal(await node.inputValue('#JieDianName'), '部门复审');
    assert.equal(await node.isChecked('#iszhuanban'), false);
    await save(node);
    assert.deepEqual([stored(2, 'JieDianName'), stored(2, 'iszhuanban')], ['部门复审', '0']);
  },

  // A list naming an account that does not exist is refused, and the save is
  // offered back as a refused list, with the host's message.
  async a_refused_list_is_offered_back_as_such(page, base) {
    await signIn(page, base);
    const node = await openNode(page, '拟稿', 1);
    await node.evaluate(() => { document.formData.FenFaUser.value = ';wangwu;nobody;'; });
    await save(node);
    const bar = await restoreOffer(page, 'bad list');
    assert.match(await bar.textContent(), /用户或部门列表有误.*默认分发用户中的帐号不存在：nobody/);
    assert.equal(stored(1, 'FenFaUser'), ';wangwu;');
    await page.screenshot({ path: join(artifacts, 'refused_list_offer.png') });
  },

  // A name of spaces is refused by the host naming the field, and offered
  // back as a refused value; a stored 5,000-character name is shortened in
  // the node list, whole on hover, and a blank one still has a visible link.
  async long_and_blank_names_stay_in_the_node_list(page, base) {
    await signIn(page, base);
    const node = await openNode(page, '拟稿', 1);
    await node.fill('#JieDianName', '   ');
    await save(node);
    assert.match(await page.frame({ name: 'FJieDian' }).textContent('#msgDis'), /节点名称（JieDianName）不能只有空格/);
    await restoreOffer(page, 'bad value');
    assert.equal(stored(1, 'JieDianName'), '拟稿');

    const long = '长'.repeat(5000);
    execFileSync('sqlite3', [dbFile, `update OA_Flow_Model_JieDian set JieDianName='${long}' where OAID=3; `
      + "update OA_Flow_Model_JieDian set JieDianName='　 ' where OAID=4"]);
    await page.goto(`${base}/oa/flow/model/model.asp?OAID=1`);
    const list = page.frame({ name: 'FMain' });
    await list.waitForSelector('#nodes');
    const links = await list.$$eval('#nodes tbody tr td:nth-child(2) a', (as) => as.map((a) => {
      const box = a.getBoundingClientRect();
      return { text: a.textContent, title: a.title, width: box.width, height: box.height };
    }));
    assert.equal(links[2].title, long);
    assert.ok(links[2].text.length <= 11 && links[2].text.endsWith('…'), links[2].text);
    assert.equal(links[3].text, '（未命名）');
    assert.ok(links[3].width > 10 && links[3].height > 5, JSON.stringify(links[3]));
    assert.ok(await list.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth));
    await page.screenshot({ path: join(artifacts, 'node_list_names.png') });
  },
};

let server;
let browser;
try {
  if (!scenarios[scenario]) throw new Error(`unknown scenario ${scenario}; one of ${Object.keys(scenarios)}`);
  execFileSync(oapx1, ['db', 'init', '--demo', '--db', db], { stdio: 'ignore' });
  const started = await startServer();
  server = started.server;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  const context = await browser.newContext({ viewport: { width: 1000, height: 720 } });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(`pageerror: ${e.message}`));
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.location().url.endsWith('/favicon.ico')) {
      errors.push(`console: ${m.text()} ${m.location().url}`);
    }
  });
  await scenarios[scenario](page, started.base);
  assert.deepEqual(errors, []);
  console.log(`editor scenario ${scenario} passed; screenshots in ${artifacts}`);
} finally {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
