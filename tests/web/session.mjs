// A person's session in headless Chromium against the board's web server:
// every menu button, a save with its wait page and refresh, and another
// site's pages that try to save behind the person's back, one of them
// through the settings form laid invisibly in a frame. Each failed check
// prints a line; the exit status is 1 when one failed.
// NB_BASE names the board by a host name, which the browser maps to
// 127.0.0.1 (http://NAME:PORT, NAME one the board takes as its own): to a
// loopback address Chromium sends Sec-Fetch-Site, and the pages without a
// Referer would then test nothing. NB_OTHER is the other site's server
// (tests/web/other). NB_AUTH="user:password" logs in, for a board behind
// HTTP Basic auth.
import { readFileSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { launch } from './chromium.mjs';

const { NB_BASE: base, NB_OTHER: other, NB_SETTINGS: settings, NB_LOG: log, NB_SHOTS: shots, NB_TMP: tmp } = process.env;
// What the CPU and Net Statistics pages show, and what the configuration
// program logs at the end of a save's apply (the stand-in logs the settings
// file on one line).
const { NB_CPU: cpu = 'Northbeam test CPU', NB_NET: net = 'eth0-test', NB_LOGGED: logs, NB_AUTH: auth } = process.env;
const home = `${base}/cgi-bin/northbeam`;
let checks = 0, failed = 0;

// One check: prints a failure.
function check(name, ok, detail = '') {
  checks++;
  if (!ok) { failed++; console.log(`FAIL browser: ${name} ${detail}`); }
}
// A file's text, or null without one; a board's files come from its
// inspection port.
async function readOr(p) {
  if (/^http:/.test(p)) {
    const r = await fetch(p);
    return r.ok ? r.text() : null;
  }
  return existsSync(p) ? readFileSync(p, 'utf8') : null;
}

// The pages, settings and title as the program's tables have them, from the
// build folder (NB_FACTS, northbeam-facts.json).
const facts = JSON.parse(readFileSync(process.env.NB_FACTS, 'utf8'));
// What a page shows, by its name; null: an empty document. Any other page
// is a document with the title.
const shown = {
  'Hardware': 'img[src="../images/IntelIXP425.jpg"]',
  'CPU_Info': `pre:has-text("${cpu}")`,
  'MEM Info': 'pre:has-text("MemTotal:")',
  'PCI Info': null, // no /proc/pci on the test board: an empty page
  'Wan Lan Setting': 'input[name="DNS1"]',
  'Net Statistics': `pre:has-text("${net}")`,
  'Route Table': 'pre:has-text("Kernel IP routing table")',
};
// Menu buttons in order: label, page name as the URL carries it, and what the page shows.
const menu = facts.pages.map(({ value, label }) => [label, encodeURIComponent(value).replaceAll('%20', '+'), shown[value]]);
// The address of a page, by its query.
const at = (query) => (url) => url.search === query;
const button = (page, label) => page.locator(`input[type="submit"][value=" ${label}"]`);

// Every name the pages use reaches this machine's loopback, and nothing else.
const { context, close } = await launch(tmp, { auth });
try {
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(10000);
  const bad = [];
  let backgrounds = 0, saves = 0;
  // Saves that have been answered, or refused by the browser (an image
  // that is a page is blocked once it has arrived).
  const settled = (q) => { if (new URL(q.url()).searchParams.get('rc') === '2') saves++; };
  page.on('requestfinished', settled);
  page.on('requestfailed', settled);
  page.on('response', (r) => {
    if (r.status() >= 400) bad.push(`${r.status()} ${r.url()}`);
    if (r.url().endsWith('/images/bg01.gif') && r.ok()) backgrounds++;
  });
  // Every picture on the page has loaded and is not broken.
  async function picturesLoad(where) {
    await page.waitForLoadState('load');
    const broken = await page.evaluate(() =>
      [...document.images].filter((i) => !(i.complete && i.naturalWidth > 0)).map((i) => i.src));
    check(`pictures load on ${where}`, broken.length === 0, broken.join(' '));
  }

  await page.goto(home);
  check('bare address shows the home page', await page.locator(menu[0][2]).count() === 1);
  check('page title', await page.title() === facts.title);
  check('seven menu buttons', await page.locator('form[action="/cgi-bin/northbeam"] input[type="submit"]').count() === menu.length);
  await picturesLoad('the home page');
  await page.screenshot({ path: `${shots}/home.png` });

  for (const [label, name, shows] of menu) {
    await page.goto(home);
    await Promise.all([page.waitForURL(at(`?rc=1&index_link=${name}`)), button(page, label).click()]);
    if (shows) {
      check(`${name} page`, await page.locator(shows).count() === 1);
      check(`${name} has the menu`, await button(page, label).count() === 1);
    } else if (shows === null) {
      check(`${name} page without its source is empty`, await page.locator('table').count() === 0);
    } else {
      check(`${name} page is a document`, await page.title() === facts.title);
    }
    await picturesLoad(name);
    if (name === 'CPU_Info') await page.screenshot({ path: `${shots}/listing.png` });
  }
  check('no request failed', bad.length === 0, bad.join(', '));
  check('content background loaded', backgrounds > 0);

  // Change the settings the way a person does.
  const logBefore = (await readOr(log)) ?? '';
  await page.goto(home);
  await Promise.all([page.waitForURL(at(`?rc=1&index_link=${menu[facts.form][1]}`)), button(page, menu[facts.form][0]).click()]);
  await page.screenshot({ path: `${shots}/form.png` });
  await page.fill('input[name="DNS1"]', '10.0.0.9');
  await page.selectOption('select[name="WAN_STATICIP"]', { label: 'Dynamic IP Address' });
  await Promise.all([page.waitForURL((url) => url.searchParams.get('rc') === '2'), page.click('input[type="submit"][value="Save"]')]);
  const shown = Date.now();
  check('wait page', await page.locator('img[src="../images/wait.gif"]').count() === 1);
  await picturesLoad('the wait page');
  await page.screenshot({ path: `${shots}/wait.png` });
  await page.waitForURL(at('?rc=1&index_link=Hardware'), { timeout: 12000 });
  const waited = Date.now() - shown;
  check('refresh home after about 5 s', waited > 3500 && waited < 9000, `${waited} ms`);
  check('home page after the refresh', await page.locator(menu[0][2]).count() === 1);
  // The form's text fields as it showed them, but for DNS1.
  const saved = 'WAN_STATICIP=n\n' + facts.fields.filter((f) => f.size > 0)
    .map((f) => `${f.name}="${f.name === 'DNS1' ? '10.0.0.9' : f.default}"\n`).join('');
  const standinEnd = `end: ${saved.replaceAll('\n', ' ')}\n`;
  const held = await readOr(settings);
  check('settings file holds the form', held === saved, JSON.stringify(held));
  // A board applies the settings beside the wait page: up to 10 s more.
  let logged = '';
  for (let i = 0; i < 50; i++) {
    logged = ((await readOr(log)) ?? '').slice(logBefore.length);
    if (logged.endsWith(logs ?? standinEnd)) break;
    await page.waitForTimeout(200);
  }
  check('configuration program saw the settings', logged.endsWith(logs ?? standinEnd), JSON.stringify(logged));

  await Promise.all([page.waitForURL(at(`?rc=1&index_link=${menu[facts.form][1]}`)), button(page, menu[facts.form][0]).click()]);
  check('saved DNS shown', await page.inputValue('input[name="DNS1"]') === '10.0.0.9');
  const options = await page.locator('select[name="WAN_STATICIP"] option').allTextContents();
  check('dynamic option first', options[0]?.trim() === 'Dynamic IP Address', JSON.stringify(options));

  // Another origin's page saves through a picture and an auto-submitting form.
  const board = `?board=${encodeURIComponent(base)}`;
  let settingsBefore = await readOr(settings), logNow = await readOr(log);
  const savesBefore = saves;
  await page.goto(`${other}/attack.html${board}`);
  // Both tries (picture and form) have been answered, within 10 s.
  for (let i = 0; i < 100 && saves < savesBefore + 2; i++) await page.waitForTimeout(100);
  check('other site sent both saves', saves === savesBefore + 2, `${saves - savesBefore}`);
  await page.waitForTimeout(300);
  check('other site left the settings file', (await readOr(settings)) === settingsBefore);
  check('other site started no configuration', (await readOr(log)) === logNow);

  // Another site lays the settings form, invisible, over a button of its
  // own, right where the form's Save is, and the person clicks the button.
  // The board's answer forbids any framing: the browser shows nothing of it
  // in the frame, and the click lands on nothing of the board's.
  await page.goto(`${home}?rc=1&index_link=Wan+Lan+Setting`);
  const saveAt = await page.locator('input[type="submit"][value="Save"]').boundingBox();
  settingsBefore = await readOr(settings);
  logNow = await readOr(log);
  const clickedSaves = [];
  const clickedSave = (r) => { if (new URL(r.url()).searchParams.get('rc') === '2') clickedSaves.push(r.url()); };
  const framedForm = page.waitForResponse((r) => r.url().startsWith(home)
    && new URL(r.url()).searchParams.get('index_link') === 'Wan Lan Setting' && r.frame() !== page.mainFrame());
  page.on('request', clickedSave);
  // Behind a login the browser answers no challenge inside another site's
  // frame; one that holds the person's login from earlier may send it
  // unasked, and this header stands for that.
  if (auth) await context.setExtraHTTPHeaders({ Authorization: `Basic ${Buffer.from(auth).toString('base64')}` });
  await page.goto(`${other}/frame.html${board}`);
  const framedAnswer = await framedForm;
  await page.waitForLoadState('load');
  const inFrame = await (await page.$('#board')).contentFrame();
  check('a framing page: the board answered the frame', framedAnswer.status() === 200, `${framedAnswer.status()}`);
  check('a framing page: the frame shows nothing of the board',
    !inFrame.url().startsWith(new URL(base).origin) && await inFrame.locator('input').count() === 0, inFrame.url());
  await page.mouse.click(saveAt.x + saveAt.width / 2, saveAt.y + saveAt.height / 2);
  await page.waitForTimeout(1000);
  page.off('request', clickedSave);
  if (auth) await context.setExtraHTTPHeaders({});
  check('a click through the frame: sent no save', clickedSaves.length === 0, clickedSaves.join(' '));
  // An apply the click started ends before the next page's checks.
  if (clickedSaves.length) await page.waitForTimeout(3000);
  check('a click through the frame: left the settings file', (await readOr(settings)) === settingsBefore);
  check('a click through the frame: started no configuration', (await readOr(log)) === logNow);

  // Then pages that take the whole window to the board and send no Referer.
  // A browser sends no Origin with such a navigation, nor Sec-Fetch-Site to
  // a board reached over plain HTTP by a name or a LAN address.
  const shapes = [
    ['noref-form.html', 'a form sent from a no-referrer page'],
    ['noref-link.html', 'a rel=noreferrer link clicked by script'],
    ['noref-location.html', 'location.href set from a no-referrer page'],
  ];
  const atBoard = (url) => url.origin === new URL(base).origin && url.searchParams.get('rc') === '2';
  for (const [file, what] of shapes) {
    settingsBefore = await readOr(settings);
    logNow = await readOr(log);
    let sent = null;
    const seen = (r) => { if (atBoard(new URL(r.url()))) sent = r; };
    page.on('request', seen);
    await page.goto(`${other}/${file}${board}`, { waitUntil: 'commit' });
    await page.waitForURL(atBoard, { waitUntil: 'load' });
    page.off('request', seen);
    const headers = sent ? await sent.allHeaders() : {};
    const signs = ['referer', 'origin', 'sec-fetch-site'].filter((h) => h in headers);
    check(`${what}: reached the board with no sign of where it came from`, sent !== null && signs.length === 0,
      signs.map((h) => `${h}: ${headers[h]}`).join(', '));
    check(`${what}: answered with the home page`, await page.locator(menu[0][2]).count() === 1
      && await page.locator('img[src="../images/wait.gif"]').count() === 0);
    await page.waitForTimeout(300);
    check(`${what}: left the settings file`, (await readOr(settings)) === settingsBefore);
    check(`${what}: started no configuration`, (await readOr(log)) === logNow);
  }

  // A link opened from outside the browser (a mail, a chat) to another
  // site that redirects to a save, as a link shortener does. The browser
  // sends Sec-Fetch-Site "none" with it, and sends that header only to a
  // trustworthy origin: so the board is reached at 127.0.0.1 here.
  const shortener = createServer((req, res) => {
    res.writeHead(302, { Location: decodeURIComponent(req.url.slice(req.url.indexOf('?') + 1)) });
    res.end();
  });
  await new Promise((done) => shortener.listen(0, '127.0.0.1', done));
  try {
    const target = `http://127.0.0.1:${new URL(base).port}/cgi-bin/northbeam?rc=2&DNS1=6.6.6.7`;
    settingsBefore = await readOr(settings);
    logNow = await readOr(log);
    const outside = await context.newPage();
    let fetchSite = null;
    outside.on('request', async (r) => {
      if (r.url() === target) fetchSite = (await r.allHeaders())['sec-fetch-site'] ?? '(none sent)';
    });
    await outside.goto(`http://127.0.0.1:${shortener.address().port}/go?${encodeURIComponent(target)}`);
    check('a redirected link from outside: reached the board as "none"', fetchSite === 'none', fetchSite);
    check('a redirected link from outside: answered with the home page', await outside.locator(menu[0][2]).count() === 1
      && await outside.locator('img[src="../images/wait.gif"]').count() === 0);
    await outside.waitForTimeout(300);
    check('a redirected link from outside: left the settings file', (await readOr(settings)) === settingsBefore);
    check('a redirected link from outside: started no configuration', (await readOr(log)) === logNow);
    await outside.close();
  } finally {
    shortener.close();
  }
} catch (e) {
  check('session ran to its end', false, String(e));
} finally {
  await close();
}
console.log(`browser: ${checks} checks, ${failed ? `${failed} failed` : 'all as expected'}`);
process.exitCode = failed ? 1 : 0;
