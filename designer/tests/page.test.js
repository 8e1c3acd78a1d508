// The designer's page in headless Chromium (Debian's chromium, driven by
// puppeteer-core), opened from its file as a user opens it. Run by ctest
// (designer.page) with SU55IF_PAGE, the built index.html, and SU55IF_HOST
// as for module.test.js; SU55IF_SCREENSHOTS, when set, names the folder
// for the documentation's screenshots.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test, before, after } = require('node:test');
const puppeteer = require('puppeteer-core');

const pageUrl = 'file://' + process.env.SU55IF_PAGE;
let browser;
let page;
const problems = [];  // console errors, page errors and dialogs (a script that ran)

before(async () => {
  browser = await puppeteer.launch({
    executablePath: process.env.SU55IF_CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    args: ['--no-sandbox', '--disable-gpu'],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  page.on('pageerror', (error) => problems.push(String(error)));
  page.on('dialog', async (dialog) => { problems.push(`dialog: ${dialog.message()}`); await dialog.dismiss(); });
});
after(async () => { if (browser) await browser.close(); });

async function open(hash = '') {
  await page.goto('about:blank');
  await page.goto(pageUrl + hash);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 20000 });
}
const text = (selector) => page.$eval(selector, (e) => e.textContent);

test('opens from its file with the built-in example and its verdict', async () => {
  await open();
  assert.equal(await page.$$eval('#stages tbody tr', (r) => r.length), 4);
  assert.equal(await text('#verdict'), 'The library accepts the cycle.');
  assert.deepEqual(problems, []);
  if (process.env.SU55IF_SCREENSHOTS) {
    await page.click('#run');
    await page.waitForSelector('#chart:not([hidden])');
    await page.waitForSelector('#cycle-chart:not([hidden])');
    await page.screenshot({ path: path.join(process.env.SU55IF_SCREENSHOTS, 'designer.png') });
    await page.setViewport({ width: 390, height: 844 });
    await page.screenshot({ path: path.join(process.env.SU55IF_SCREENSHOTS, 'designer-phone.png') });
    await page.setViewport({ width: 1280, height: 800 });
  }
});

const rowTexts = () => page.$$eval('#stages tbody tr', (rows) => rows.map((r) => `${r.className}|${r.textContent}`));
const values = () => page.$$eval('#stages tbody input', (inputs) => inputs.map((i) => i.value));

test('breaking a link puts the explanation at the linked rows; undo restores', async () => {
  await open();
  const duration = await page.$('#stages tbody tr:nth-child(3) td:nth-child(3) input');
  await duration.click({ clickCount: 3 });
  await duration.type('15');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'rejected');
  const rows = await rowTexts();
  assert.deepEqual(rows.map((r) => r.split('|')[0]), ['at-fault', 'note', '', 'at-fault', '']);
  assert.match(rows[1], /Stage 1 \(duration 10\) and its partner stage 3 \(duration 15\) are linked but their durations differ\./);
  await page.keyboard.down('Control');
  await page.keyboard.press('z');
  await page.keyboard.up('Control');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
  assert.equal((await values())[7], '10');
});

test('rows pasted from a spreadsheet keep their text; a malformed one gets the engine\'s message', async () => {
  await open();
  const before = await values();
  await page.focus('#stages tbody tr:nth-child(4) td:nth-child(2) input');
  await page.evaluate(() => {
    const data = new DataTransfer();
    data.setData('text/plain', 'mix\t10\t0\r\nhold\tten\t0\textra\r\n');
    document.activeElement.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => document.getElementById('verdict').className === 'error');
  const rows = await rowTexts();
  assert.equal(rows.length, 6);
  assert.match(rows[5], /^note\|su55if-host: examples\/four-stage\.csv:6:3: duration "ten" is not a number/);
  assert.deepEqual((await values()).slice(12), ['hold', 'ten', '0\textra']);
  await page.click('#undo');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
  assert.deepEqual(await values(), before);
});

test('the address brings a hostile cycle back as text, running no script', async () => {
  const cycle = 'stage,duration,partner,name\n1,10,0,"<img src=x onerror=alert(1)>"\n';
  await open('#' + encodeURIComponent(cycle));
  assert.equal(await page.$eval('#stages tbody tr td:nth-child(2) input', (i) => i.value), '<img src=x onerror=alert(1)>');
  assert.equal(await page.$$eval('img:not(#chart):not(#cycle-chart)', (i) => i.length), 0);
  assert.deepEqual(problems, []);
});

test('window.su55if gives the host\'s bytes, and the page a CSV to download', async () => {
  const host = process.env.SU55IF_HOST;
  await open();
  await page.click('#run');
  await page.waitForSelector('#download-csv:not([hidden])');
  const examples = path.resolve(__dirname, '../../examples');
  const read = (name) => ({ name, text: fs.readFileSync(path.join(examples, name), 'utf8') });
  const result = await page.evaluate((cycle, inputFile, events) => window.su55if.run(cycle, {
    inputFile, events, stopTime: 400, outputInterval: 2.5,
  }), read('what-if.csv'), read('what-if-inputs.csv'), read('what-if-events.csv'));
  if (host && fs.existsSync(host)) {
    const { execFileSync } = require('node:child_process');
    assert.equal(result.stdout, execFileSync(host, ['-q', 'run', 'what-if.csv', '--input-file', 'what-if-inputs.csv',
      '--events', 'what-if-events.csv', '--stop-time', '400', '--output-interval', '2.5'], { cwd: examples, encoding: 'utf8' }));
  }
  assert.equal(result.exitCode, 0);
  assert.match(result.stdout, /^time,/);
});

test('charts at their own size and stage names in full, on a desktop and on a phone', async () => {
  const name = 'EQ1 down (give) to bed 3, purge!';  // 32 characters
  for (const [width, height, mobile] of [[1280, 800, false], [390, 844, true]]) {
    await page.setViewport({ width, height, isMobile: mobile, hasTouch: mobile });
    await page.setBypassCSP(true);  // to read the charts' SVG back from their blob addresses
    await open();
    await page.click('#stages tbody tr:nth-child(1) input[data-key=name]');
    await page.keyboard.type(name);
    await page.click('#run');
    await page.waitForSelector('#chart:not([hidden])');
    await page.waitForSelector('#cycle-chart:not([hidden])');
    // The smallest text of each chart as drawn: its font size in the SVG
    // times the scale the page draws the picture at.
    const smallest = await page.$$eval('#chart, #cycle-chart', (images) => Promise.all(images.map(async (image) => {
      const svg = await (await fetch(image.src)).text();
      const sizes = [...svg.matchAll(/font-size="([\d.]+)"/g)].map((m) => Number(m[1]));
      return Math.min(...sizes) * image.getBoundingClientRect().width / image.naturalWidth;
    })));
    for (const size of smallest) assert.ok(size >= 10, `${width} wide: text drawn ${size} pixels high`);
    const field = await page.$eval('#stages tbody input[data-key=name]', (i) => [i.value, i.scrollWidth <= i.clientWidth]);
    assert.deepEqual(field, [name, true], `${width} wide: the name is cut`);
  }
  await page.setViewport({ width: 1280, height: 800 });
  await page.setBypassCSP(false);
});

test('no serious or critical accessibility fault with a cycle, a fault shown, and after a run', async () => {
  const axe = fs.readFileSync(require.resolve('axe-core'), 'utf8');
  await page.setBypassCSP(true);  // to add axe-core's script to the page
  const audit = async (state) => {
    await page.evaluate(axe);
    const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
    return violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${state}: ${v.id} at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  };
  await open();
  const found = await audit('a cycle');
  const duration = await page.$('#stages tbody tr:nth-child(3) td:nth-child(3) input');
  await duration.click({ clickCount: 3 });
  await duration.type('15');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'rejected');
  found.push(...await audit('a fault shown'));
  await page.click('#undo');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
  await page.click('#run');
  await page.waitForSelector('#chart:not([hidden])');
  found.push(...await audit('after a run'));
  await page.setBypassCSP(false);
  assert.deepEqual(found, []);
});
