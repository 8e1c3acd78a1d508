// The designer's page in headless Chromium (Debian's chromium, driven by
// puppeteer-core), opened from its file as a user opens it. Run by ctest
// (designer.page) with SU55IF_PAGE, the built index.html, and SU55IF_HOST
// as for module.test.js; SU55IF_SCREENSHOTS, when set, names the folder
// for the documentation's screenshots.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
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

test('rows pasted from a spreadsheet keep their text; a malformed one gets a note at each cell', async () => {
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
  assert.deepEqual(rows.slice(5), ['note|Stage 5, duration ten: not a number', 'note|Stage 5, partner 0\textra: not a number']);
  assert.deepEqual((await values()).slice(12), ['hold', 'ten', '0\textra']);
  await page.click('#undo');
  await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
  assert.deepEqual(await values(), before);
});

// A cell typed in, then the note the table shows: at that cell, in the
// table's words, naming no program, file or option.
async function typeInto(stage, key, typed) {
  const cell = await page.$(`#stages tbody input[data-row="${stage - 1}"][data-key="${key}"]`);
  await cell.click({ clickCount: 3 });
  await cell.type(typed);
  // The note of the last keystroke's check, not of one before it.
  await page.waitForFunction((t) => ['error', 'rejected'].includes(document.getElementById('verdict').className) &&
    [...document.querySelectorAll('#stages tr.note')].some((note) => note.textContent.includes(t)), {}, typed);
}

test('faults typed into the table are told at their cells in the table\'s words', async () => {
  for (const [stage, key, typed, note, at] of [
    [4, 'duration', '-10', 'Stage 4, duration -10: a duration is 0 or more', [4, 'duration']],
    [2, 'duration', '4,5', 'Stage 2, duration 4,5: use a decimal point', [2, 'duration']],
    [2, 'duration', 'twenty', 'Stage 2, duration twenty: not a number', [2, 'duration']],
    [2, 'partner', '9', 'Stage 2 has the partner entry 9, which names stage 9, but the cycle has 4 stages.', [2, 'partner']],
    [2, 'partner', '1', "Stage 2 names stage 1 as its partner (entry 1), but stage 1's entry 3 names stage 3, not stage 2.", [2, 'partner']],
  ]) {
    await open();
    await typeInto(stage, key, typed);
    const notes = await page.$$eval('#stages tbody tr.note td', (cells) => cells.map((c) => [c.id, c.textContent]));
    assert.equal(notes.length, 1, typed);
    assert.equal(notes[0][1].split('\n')[0], note);
    assert.doesNotMatch(notes[0][1] + await text('#messages'), /su55if-host|\.csv|--|line \d/);
    const described = await page.$eval(`#stages tbody input[data-row="${at[0] - 1}"][data-key="${at[1]}"]`,
      (i) => [i.getAttribute('aria-invalid'), i.getAttribute('aria-describedby')]);
    assert.deepEqual(described, ['true', notes[0][0]], typed);
  }
  assert.deepEqual(problems, []);
});

// The file the page saves, caught at its download: [name, text].
const savedFile = () => page.evaluate(() => new Promise((resolve) => {
  let blob = null;
  const made = URL.createObjectURL;
  URL.createObjectURL = (b) => { blob = b; return made(b); };
  HTMLAnchorElement.prototype.click = function () { blob.text().then((t) => resolve([this.download, t])); };
  document.getElementById('save').click();
}));

test('a cycle file opened, edited and saved keeps every comment line and name, in UTF-8 whatever it was', async () => {
  const original = '# Two beds: Spülung.\nstage,duration,partner,name\n# feed\n1,10,0,Ä feed\n\n# purge, then rest\n2,20,0,purge\n# end\n';
  for (const [encoding, notice] of [['utf8', ''], ['latin1', 'beds.csv, line 1: the file is not UTF-8: read as Windows-1252 from this line on.']]) {
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'page-')), 'beds.csv');
    fs.writeFileSync(file, Buffer.from(original, encoding));
    await open();
    await (await page.$('#open')).uploadFile(file);
    await page.waitForFunction((n) => document.querySelectorAll('#stages tbody tr').length === 2 &&
      document.getElementById('table-notice').textContent === n, {}, notice);
    await typeInto(2, 'duration', '-1');
    const cell = await page.$('#stages tbody input[data-row="1"][data-key="duration"]');
    await cell.click({ clickCount: 3 });
    await cell.type('25');
    await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
    assert.deepEqual(await savedFile(), ['beds.csv', original.replace('2,20,0,purge', '2,25,0,purge')], encoding);
  }
});

test('a cycle is saved under its name\'s stem as .csv, whatever name the address gives', async () => {
  const cycle = 'stage,duration,partner,name\n# <script>alert(1)</script>\n1,10,0,&calc\n';
  for (const [name, saved] of [['report.html', 'report.csv'], ['run.bat', 'run.csv'], ['.csv', 'cycle.csv'],
    ['C:\\Users\\x\\a<b>:c?.txt', 'a_b__c_.csv'], ['../x\u202efdp.exe', 'x_fdp.csv'], ['con', '_con.csv']]) {
    await open('#v1:' + encodeURIComponent(JSON.stringify({ name, cycle })));
    assert.deepEqual(await savedFile(), [saved, cycle], name);
  }
  assert.deepEqual(problems, []);
});

test('the address brings a hostile cycle back as text, running no script', async () => {
  const cycle = 'stage,duration,partner,name\n1,10,0,"<img src=x onerror=alert(1)>"\n';
  await open('#' + encodeURIComponent(cycle));
  assert.equal(await page.$eval('#stages tbody tr td:nth-child(2) input', (i) => i.value), '<img src=x onerror=alert(1)>');
  const script = '<script>alert(1)</script>';
  await open('#v1:' + encodeURIComponent(JSON.stringify({ cycle, timeUnit: script, inputs: { name: script, text: script } })));
  assert.deepEqual(await page.$eval('#inputs', (i) => [i.value, i.dataset.name]), [script, script]);
  assert.equal(await page.$eval('#time-unit', (i) => i.value), script);
  assert.equal(await page.$$eval('img:not(#chart):not(#cycle-chart):not(#run-preview)', (i) => i.length), 0);
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
    assert.equal(result.stdout, execFileSync(host, ['-q', 'run', 'what-if.csv', '--input-file', 'what-if-inputs.csv',
      '--events', 'what-if-events.csv', '--stop-time', '400', '--output-interval', '2.5'], { cwd: examples, encoding: 'utf8' }));
  }
  assert.equal(result.exitCode, 0);
  assert.match(result.stdout, /^time,/);
});

const cellValues = () => page.$$eval('#stages tbody input', (inputs) => inputs.map((i) => i.value));
const hashText = () => page.evaluate(() => decodeURIComponent(location.hash.slice(1)));

test('the address is loaded as typed, faults and all, and never replaced by the example', async () => {
  const typed = 'stage,duration,partner,name\n1,ten,0,mix\n2,10,0,hold\n';
  await open('#' + encodeURIComponent(typed));
  await page.waitForFunction(() => document.getElementById('verdict').className === 'error');
  assert.deepEqual(await cellValues(), ['mix', 'ten', '0', 'hold', '10', '0']);
  assert.match((await rowTexts())[1], /^note\|Stage 1, duration ten: not a number/);
  assert.equal(JSON.parse((await hashText()).slice('v1:'.length)).cycle, typed);
  // More stages than a cycle has: the first ones, and the page says so.
  const many = ['stage,duration,partner,name', ...Array.from({ length: 101 }, (_, k) => `${k + 1},10,0,s${k + 1}`)];
  await open('#' + encodeURIComponent(many.join('\n') + '\n'));
  assert.equal(await page.$$eval('#stages tbody tr:not(.note)', (r) => r.length), 100);
  assert.match(await text('#table-notice'), /at most 100 stages: the 1 row past stage 100 was left out/);
  // No stages to show, no text, or a scenario the page cannot read: told,
  // the table, the settings and the address left as they are.
  await page.type('#time-unit', 's');
  const v1 = (json) => '#v1:' + encodeURIComponent(json);
  const packed = (bytes) => '#z1:' + Buffer.from(bytes).toString('base64url');
  for (const [hash, reason] of [
    ['#stage;duration%0A1;10', /no stages the page can show/], ['#%E0%A4%A', /a % sign not followed/],
    [v1('{"cycle":5}'), /its stages are not a text/], [v1('{"cycle":"stage,duration\\n1,10",'), /cut short/],
    [v1('{"cycle":"stage,duration\\n1,10","twin":"<script>alert(1)</script>"}'), /twin procedures are neither/],
    [v1('{"cycle":"stage,duration\\n1,10","events":{"text":["1"]}}'), /events table is not a text/],
    ['#v2:%7B%7D', /a later version/], ['#z1:AAAA%3Cscript%3E', /a character a packed part never has/],
    [packed(require('node:crypto').randomBytes(300)), /packed part is damaged/],
    [packed(require('node:zlib').deflateRawSync(Buffer.alloc(2 ** 26, '['))), /unpacks to more than 8 MB/],
  ]) {
    const before = await cellValues();
    await page.evaluate((h) => { location.hash = h; }, hash);
    await page.waitForFunction(() => document.getElementById('table-notice').textContent.includes('left as it is'));
    assert.match(await text('#table-notice'), reason);
    assert.deepEqual([await cellValues(), await page.$eval('#time-unit', (i) => i.value)], [before, 's']);
    assert.equal(await page.evaluate(() => location.hash), hash);
    await page.evaluate(() => { document.getElementById('table-notice').textContent = ''; });
  }
  assert.deepEqual(problems, []);
});

// What a link brings back: the table, every setting, the tables and their
// files' names, and after Run the run's messages and chart; the address.
async function scenarioShown() {
  await page.click('#run');
  await page.waitForFunction(() => !document.getElementById('run').disabled);
  return page.evaluate(async () => {
    const fields = [...document.querySelectorAll('#cycle .fields input, #what-if input, #what-if select, textarea')];
    return {
      fields: fields.map((f) => [f.id, f.type === 'checkbox' ? f.checked : f.value, f.dataset.name]),
      rows: [...document.querySelectorAll('#stages tbody input')].map((i) => i.value),
      run: document.getElementById('run-messages').textContent + document.getElementById('warnings').textContent,
      chart: await (await fetch(document.getElementById('chart').src)).text(),
      address: location.hash,
    };
  });
}

test('a link brings back the table, its comments, the settings, the tables and the same run', async () => {
  const examples = path.resolve(__dirname, '../../examples');
  await page.setBypassCSP(true);  // to read the chart back from its blob address
  await open();
  await (await page.$('#open')).uploadFile(path.join(examples, 'what-if.csv'));
  await page.waitForFunction(() => document.querySelector('#stages input').value === 'north');
  for (const [id, typed] of [['beds', '2'], ['time-unit', 's'], ['stop-time', '3'], ['output-interval', '2.5'], ['chart-to', '200']]) {
    await page.type(`#${id}`, typed);
  }
  await page.select('#stop-unit', 'cycles');
  await page.click('#twin');
  await (await page.$('#open-inputs')).uploadFile(path.join(examples, 'what-if-inputs.csv'));
  await (await page.$('#open-events')).uploadFile(path.join(examples, 'what-if-events.csv'));
  await page.waitForFunction(() => decodeURIComponent(location.hash).includes('what-if-events.csv'));
  const made = await scenarioShown();
  assert.match(made.run, /^Done/);
  assert.match(made.chart, /cycle duration 80 s</);
  assert.match(decodeURIComponent(made.address), /^#v1:.*# A what-if: the four-stage cycle/);
  await open(made.address);
  assert.deepEqual(await scenarioShown(), made);
  await page.setBypassCSP(false);
});

test('a 100-stage cycle with a 200-row input table opens from its link', async () => {
  const cycle = ['stage,duration,partner,name', ...Array.from({ length: 100 }, (_, k) => `${k + 1},${10 + k % 7},0,bed ${k % 4 + 1} step ${k}`)];
  const inputs = ['time,value,limit', ...Array.from({ length: 200 }, (_, k) => `${k * 12.5},${(k * 37) % 11},5`)].join('\n');
  await open('#' + encodeURIComponent(cycle.join('\n')));
  await page.$eval('#inputs', (t, text) => { t.value = text; t.dispatchEvent(new Event('input')); }, inputs);
  await page.waitForFunction(() => location.hash.startsWith('#z1:'));
  await open(await page.evaluate(() => location.hash));
  assert.equal((await cellValues()).length, 300);
  assert.equal(await page.$eval('#inputs', (t) => t.value), inputs);
  // New: one stage; a stage added takes the duration of the one above.
  await page.click('#new');
  await page.type('#stages input[data-key=duration]', '5');
  await page.click('#add');
  assert.deepEqual(await cellValues(), ['', '105', '0', '', '105', '0']);
});

test('20,000 pasted rows are cut at the stage limit, with a message', async () => {
  await open();
  await page.focus('#stages tbody tr:nth-child(4) td:nth-child(2) input');
  await page.evaluate(() => {
    const data = new DataTransfer();
    data.setData('text/plain', Array.from({ length: 20000 }, (_, k) => `s${k}\t10\t0`).join('\n'));
    document.activeElement.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
  assert.equal(await page.$$eval('#stages tbody tr', (r) => r.length), 100);
  assert.match(await text('#table-notice'), /^A cycle has at most 100 stages: the 19903 rows past stage 100 were left out\.$/);
});

test('every call settles: wrong types give exit-2 results, a call from a run\'s progress its own', async () => {
  await open();
  assert.deepEqual(await page.evaluate(async () => {
    const [cycle, options, su55if] = [await window.su55if.example(), { stopTime: 2e5, outputInterval: 0.5 }, window.su55if];
    let inner = null;
    const outer = await su55if.run(cycle, options, () => { inner = inner || su55if.check(cycle); });
    return [(await su55if.check(null)).exitCode, (await su55if.run(null)).exitCode, (await inner).exitCode,
      outer.stdout === (await su55if.run(cycle, options)).stdout];
  }), [2, 2, 0, true]);
});

// The page with a module whose outputs hold 64 kB, and which throws as a
// WebAssembly trap does for a cycle named throws.csv.
function pageWithSmallModule() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'su55if-page-'));
  const built = path.dirname(process.env.SU55IF_PAGE);
  for (const name of ['index.html', 'designer.css', 'table.js', 'scenario.js', 'beds.js', 'designer.js']) fs.copyFileSync(path.join(built, name), path.join(folder, name));
  const trap = path.join(folder, 'trap.js');
  fs.writeFileSync(trap, fs.readFileSync(process.env.SU55IF_SMALL_MODULE, 'utf8') + `
const createModule = createSu55ifModule;
createSu55ifModule = async () => {
  const module = await createModule();
  const run = (cycle, options, onProgress) => {
    if (cycle.name === 'throws.csv') throw new WebAssembly.RuntimeError('table index is out of bounds');
    return module.run(cycle, options, onProgress);
  };
  return new Proxy(module, { get: (target, key) => (key === 'run' ? run : target[key]) });
};`);
  execFileSync(process.execPath, [path.join(__dirname, '../page/bundle.js'), trap,
    path.join(__dirname, '../page/worker.js'), path.join(folder, 'worker-source.js')]);
  return folder;
}

test('a run past what the page holds, or one the module throws in, ends with its message', async () => {
  const folder = pageWithSmallModule();
  try {
    await page.goto('about:blank');
    await page.goto('file://' + path.join(folder, 'index.html'));
    await page.waitForSelector('body[data-ready="true"]', { timeout: 20000 });
    await page.type('#stop-time', '1e6');
    await page.click('#run');
    await page.waitForFunction(() => !document.getElementById('run').disabled);
    assert.match(await text('#run-messages'), /^The timeline reached 0\.06\d* MB, more than the page can hold: use a longer output interval or a shorter run, or the command-line workbench for a file of that size\.$/);
    assert.equal(await page.$eval('#downloads', (e) => e.hidden), true);
    fs.writeFileSync(path.join(folder, 'throws.csv'), fs.readFileSync(path.join(__dirname, '../../examples/four-stage.csv')));
    await (await page.$('#open')).uploadFile(path.join(folder, 'throws.csv'));
    await page.waitForFunction(() => document.getElementById('verdict').className === 'accepted');
    await page.click('#run');
    await page.waitForFunction(() => !document.getElementById('run').disabled);
    assert.equal(await text('#run-messages'), 'The run stopped: table index is out of bounds');
    const after = await page.evaluate(async () => (await window.su55if.run(await window.su55if.example())).exitCode);
    assert.equal(after, 0);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
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

test('a run setting the engine refuses is told by the field\'s label, never an option', async () => {
  for (const [id, typed, told] of [['stop-time', '-5', 'Stop at -5: a finite number greater than 0'],
    ['chart-to', '300', 'Chart to 300: a time within the run, from 0 to 160']]) {
    await open();
    await page.type(`#${id}`, typed);
    await page.click('#run');
    await page.waitForFunction(() => document.getElementById('warnings').textContent !== '');
    assert.equal(await text('#warnings'), told);
    await page.$eval(`#${id}`, (i) => { i.value = ''; });
  }
});

// An example picked from the gallery, by its file's name.
async function pickExample(name) {
  await page.click('#gallery summary');
  const buttons = await page.$$('#gallery-list button');
  const names = await page.$$eval('#gallery-list button', (list) => list.map((b) => b.textContent));
  await buttons[names.findIndex((n) => n.startsWith(name))].click();
}
// The documentation's screenshots, at a desktop's size and a phone's: the
// four-bed example as four beds with its grid, before and after a run,
// then with a fault at its cell. On the phone each is scrolled to what it shows.
async function screenshots() {
  const file = (name) => path.join(process.env.SU55IF_SCREENSHOTS, `${name}.png`);
  const shoot = async (name, phoneShows) => {
    await page.screenshot({ path: file(name) });
    await page.setViewport({ width: 390, height: 844 });
    for (const [selector, phoneName] of phoneShows) {
      await page.$eval(selector, (e) => e.scrollIntoView({ block: 'center' }));
      await page.screenshot({ path: file(phoneName) });
    }
    await page.setViewport({ width: 1280, height: 800 });
  };
  await pickExample('four-bed');
  await page.waitForFunction(() => document.getElementById('cycle-chart').alt.startsWith('Each bed'));
  await shoot('designer-beds', []);
  await page.click('#run');
  await page.waitForSelector('#chart:not([hidden])');
  await shoot('designer', [['#verdict', 'designer-phone'], ['#run', 'designer-phone-run']]);
  const duration = await page.$('#stages tbody tr:nth-child(4) td:nth-child(3) input');
  await duration.click({ clickCount: 3 });
  await duration.type('-10');
  await verdictIs('error');
  await shoot('designer-fault', [['#stages tbody tr:nth-child(4)', 'designer-fault-phone']]);
}
const verdictIs = (className) => page.waitForFunction((c) => document.getElementById('verdict').className === c, {}, className);
const picture = () => page.$eval('#cycle-chart', (i) => (i.hidden ? null : i.alt.split(',')[0]));

test('beds: a link that does not fit is marked at its rows; a bed count that fits is one click; a wrong number is told', async () => {
  const earlier = problems.length;  // the accessibility audit's own, before
  await open();
  await pickExample('three-bed-misfit');
  await verdictIs('misfit');
  assert.equal(await page.$eval('#beds', (i) => i.value), '3');
  const rows = await rowTexts();
  assert.deepEqual(rows.map((r) => r.split('|')[0]), ['', 'at-fault', 'note', '', '', 'at-fault', '']);
  assert.match(rows[2], /^note\|Stage 2 \(equalisation down\) and its partner stage 5 \(equalisation up\) do not fit 3 beds: .*\nTo fix it: change the durations between them so that stage 5 begins 120 (s )?or 240 (s )?before stage 2; /);
  assert.doesNotMatch(rows[2], /su55if-host|--|\.csv/);
  assert.equal(await text('#fitting-beds'), 'No number of beds from 2 to 6 fits every link.');
  await page.waitForFunction(() => !document.getElementById('run-preview').hidden);
  assert.equal(await picture(), "Each bed's stages over one cycle");

  await pickExample('four-bed');
  await verdictIs('accepted');
  await page.$eval('#beds', (i) => { i.value = ''; });
  await page.type('#beds', '5');
  await verdictIs('misfit');
  assert.equal(await text('#fitting-beds'), 'Fits 4, 8 or 12 beds.');
  await page.click('#fitting-beds button:nth-of-type(2)');
  await verdictIs('accepted');
  assert.deepEqual([await page.$eval('#beds', (i) => i.value), await picture(), await page.$$('tr.at-fault')].map(String),
    ['8', "Each bed's stages over one cycle", '']);

  await page.type('#beds', '.5');
  await page.waitForFunction(() => document.getElementById('beds-rule').textContent !== '');
  assert.equal(await text('#beds-rule'), 'Beds 8.5: the number of beds, a whole number from 2 to 100');
  assert.equal(await text('#verdict'), 'The library accepts the cycle.');
  await page.waitForFunction(() => document.getElementById('cycle-chart').alt.startsWith("The cycle's"));
  if (process.env.SU55IF_SCREENSHOTS) await screenshots();
  assert.deepEqual(problems.slice(earlier), []);
});
