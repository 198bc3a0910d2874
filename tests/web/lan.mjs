// The board at a LAN address (NB_BASE, http://192.0.2.x:PORT, in a network
// namespace of the test's own): neither loopback nor a secure origin, so
// Chromium sends no Sec-Fetch-Site, and a GET navigation no Origin. The
// Referer is all a save carries. A page of the board's own host links to
// another site (on NB_OTHER_ADDRESS, port 80, started here), which sends
// the browser back to a save: its Referer is then cut to the board's
// origin, and must prove nothing. The form's own save, first, shows that
// the board takes a save at this address at all. NB_SETTINGS, NB_LOG and
// NB_TMP as for session.mjs. Each failed check prints a line; the exit
// status is 1 when one failed.
import { readFileSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { launch } from './chromium.mjs';

const { NB_BASE: base, NB_OTHER_ADDRESS: otherAddress, NB_SETTINGS: settings, NB_LOG: log, NB_TMP: tmp } = process.env;
const home = `${base}/cgi-bin/northbeam`;
let checks = 0, failed = 0;

// One check: prints a failure.
function check(name, ok, detail = '') {
  checks++;
  if (!ok) { failed++; console.log(`FAIL lan: ${name} ${detail}`); }
}
const readOr = (p) => (existsSync(p) ? readFileSync(p, 'utf8') : null);
const isSave = (url) => url.origin === new URL(base).origin && url.searchParams.get('rc') === '2';
const homePage = 'img[src="../images/IntelIXP425.jpg"]';
const waitPage = 'img[src="../images/wait.gif"]';

// The other site: whatever is asked, a redirect to a save on the host and
// port the Referer names.
const visits = [];
const other = createServer((req, res) => {
  visits.push(req.headers.referer ?? '(none)');
  const save = new URL('/cgi-bin/northbeam?rc=2&WAN_STATICIP=Static+IP+Address&DNS1=6.6.6.8', req.headers.referer ?? base);
  res.writeHead(302, { Location: save.href });
  res.end();
});
await new Promise((done) => other.listen(80, otherAddress, done));

// No name resolves: the pages use the namespace's addresses alone.
const { context, close } = await launch(tmp, { resolve: 'MAP * ~NOTFOUND, EXCLUDE 192.0.2.*' });
try {
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(10000);

  // The form's own save at this address: its Referer is the form's page.
  let logBefore = readOr(log) ?? '';
  await page.goto(`${home}?rc=1&index_link=Wan+Lan+Setting`);
  await page.fill('input[name="DNS1"]', '10.0.0.8');
  await Promise.all([page.waitForURL((url) => isSave(url)), page.click('input[type="submit"][value="Save"]')]);
  check('the form\'s own save: the wait page', await page.locator(waitPage).count() === 1);
  check('the form\'s own save: the settings file holds it', /^DNS1="10\.0\.0\.8"$/m.test(readOr(settings) ?? ''),
    JSON.stringify(readOr(settings)));
  // Its apply (2 s) ends before the other site's try.
  let logged = '';
  for (let i = 0; i < 50 && !/ end: .*DNS1="10\.0\.0\.8"/.test(logged); i++) {
    await page.waitForTimeout(200);
    logged = (readOr(log) ?? '').slice(logBefore.length);
  }
  check('the form\'s own save: the configuration program applied it', / end: .*DNS1="10\.0\.0\.8"/.test(logged), JSON.stringify(logged));

  // The redirect back, by a person's click on the board's own page.
  const settingsBefore = readOr(settings);
  logBefore = readOr(log);
  let sent = null;
  const seen = (r) => { if (isSave(new URL(r.url()))) sent = r; };
  page.on('request', seen);
  await page.goto(`${base}/lan/vendor.html?site=${encodeURIComponent(`http://${otherAddress}/`)}`);
  await Promise.all([page.waitForURL((url) => isSave(url), { waitUntil: 'load' }), page.click('#out')]);
  page.off('request', seen);
  check('a redirect back: the link reached the other site with the board\'s origin',
    visits.length === 1 && visits[0] === `${base}/`, visits.join(' '));
  const headers = sent ? await sent.allHeaders() : {};
  const signs = ['referer', 'origin', 'sec-fetch-site'].filter((h) => h in headers).map((h) => `${h}: ${headers[h]}`);
  check('a redirect back: reached the board with its origin alone as the Referer',
    sent !== null && signs.length === 1 && headers.referer === `${base}/`, signs.join(', '));
  check('a redirect back: answered with the home page', await page.locator(homePage).count() === 1
    && await page.locator(waitPage).count() === 0);
  await page.waitForTimeout(300);
  check('a redirect back: left the settings file', readOr(settings) === settingsBefore);
  check('a redirect back: started no configuration', readOr(log) === logBefore);
  // An apply a wrongly taken save started ends before the board is stopped.
  if (readOr(log) !== logBefore) await page.waitForTimeout(3000);
} catch (e) {
  check('session ran to its end', false, String(e));
} finally {
  await close();
  other.close();
}
console.log(`lan: ${checks} checks, ${failed ? `${failed} failed` : 'all as expected'}`);
process.exitCode = failed ? 1 : 0;
