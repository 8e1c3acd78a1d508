// The designer's benchmark, not a test: the check after one edit of a
// 100-stage cycle in the page, the same with 50 links checked as 10 beds
// and their grid drawn, a 1,000,000-sample run of
// examples/four-stage.csv in the page beside the native su55if-host, and
// the size of the page's files.
//   node designer/bench/bench.js [build/wasm/designer] [build/default/tools/su55if-host]
// Chromium is Debian's (SU55IF_CHROMIUM to name another).
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const root = path.resolve(__dirname, '../..');
const designer = path.resolve(process.argv[2] || path.join(root, 'build/wasm/designer'));
const host = path.resolve(process.argv[3] || path.join(root, 'build/default/tools/su55if-host'));
const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
const ms = (value) => `${value.toFixed(1)} ms`;

// 100 stages, odd ones linked to the next.
function hundredStages() {
  const lines = ['stage,duration,partner,name'];
  for (let k = 1; k <= 100; ++k) lines.push(`${k},${k % 2 ? k : k - 1},${k % 2 ? k + 1 : -(k - 1)},stage ${k}`);
  return lines.join('\n') + '\n';
}

// 100 stages of 10, stage k linked to stage k + 50: 50 links, each 5 shifts
// in 10 beds (bench/host_beds.sh's cycle).
function hundredStagesFiftyLinks() {
  const lines = ['stage,duration,partner,name'];
  for (let k = 1; k <= 100; ++k) lines.push(`${k},10,${k <= 50 ? k + 50 : k - 50},stage number ${k}`);
  return lines.join('\n') + '\n';
}

// 50 edits, each typed into the name of a stage and timed until its verdict
// is shown (body[data-checked] counts the checks shown) and, with `picture`,
// until the picture it drew has been decoded for the screen.
function timeEdits(page, picture) {
  return page.evaluate(async (pictureId) => {
    const times = [];
    const inputs = document.querySelectorAll('#stages tbody input[data-key="name"]');
    for (let k = 0; k < 50; ++k) {
      const input = inputs[k * 2];
      const shown = document.body.dataset.checked;
      const start = performance.now();
      input.value += 'x';
      input.dispatchEvent(new Event('input'));
      await new Promise((resolve) => {
        const observer = new MutationObserver(() => {
          if (document.body.dataset.checked !== shown) { observer.disconnect(); resolve(); }
        });
        observer.observe(document.body, { attributes: true });
      });
      if (pictureId) await document.getElementById(pictureId).decode();
      times.push(performance.now() - start);
    }
    return times;
  }, picture);
}

async function main() {
  const browser = await puppeteer.launch({
    executablePath: process.env.SU55IF_CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    args: ['--no-sandbox', '--disable-gpu'],
  });
  try {
    const page = await browser.newPage();
    await page.goto('file://' + path.join(designer, 'index.html') + '#' + encodeURIComponent(hundredStages()));
    await page.waitForSelector('body[data-ready="true"]');

    const edits = await timeEdits(page, null);
    console.log(`check after one edit of a 100-stage cycle: median ${ms(median(edits))} of 50 (target <= 20 ms)`);

    // The same with Beds 10: the check with the beds, the grid drawn.
    await page.goto('about:blank');
    await page.goto('file://' + path.join(designer, 'index.html') + '#' + encodeURIComponent(hundredStagesFiftyLinks()));
    await page.waitForSelector('body[data-ready="true"]');
    await page.type('#beds', '10');
    await page.waitForFunction(() => document.getElementById('cycle-chart').alt.startsWith('Each bed'));
    const bedEdits = await timeEdits(page, null);
    const bedPictures = await timeEdits(page, 'cycle-chart');
    console.log(`check after one edit of 100 stages, 50 links, as 10 beds with the grid: median ${ms(median(bedEdits))} ` +
      `to the verdict, ${ms(median(bedPictures))} to the grid decoded, of 50 each (target < 30 ms)`);

    // 1,000,000 samples: four-stage.csv's default interval is 0.5.
    const cycleName = 'four-stage.csv';
    const cycle = { name: cycleName, text: fs.readFileSync(path.join(root, 'examples', cycleName), 'utf8') };
    const stopTime = '499999.5';
    const pageRuns = [];
    for (let k = 0; k < 3; ++k) {
      pageRuns.push(await page.evaluate(async (c, stop) => {
        const start = performance.now();
        const result = await window.su55if.run(c, { stopTime: stop });
        if (result.exitCode !== 0) throw new Error(result.stderr);
        return { time: performance.now() - start, lines: result.stdout.split('\n').length - 2 };
      }, cycle, stopTime));
    }
    const nativeRuns = [];
    for (let k = 0; k < 3; ++k) {
      // Into a file, as the page keeps its output.
      const output = fs.openSync(path.join(os.tmpdir(), 'su55if-bench.csv'), 'w');
      const start = process.hrtime.bigint();
      execFileSync(host, ['-q', 'run', cycleName, '--stop-time', stopTime],
        { cwd: path.join(root, 'examples'), stdio: ['ignore', output, 'inherit'] });
      nativeRuns.push(Number(process.hrtime.bigint() - start) / 1e6);
      fs.closeSync(output);
    }
    const inPage = median(pageRuns.map((r) => r.time));
    const native = median(nativeRuns);
    console.log(`run of ${pageRuns[0].lines} samples: page ${ms(inPage)}, native ${ms(native)}, ` +
      `ratio ${(inPage / native).toFixed(2)} (target <= 2.5)`);
  } finally {
    await browser.close();
  }

  const files = fs.readdirSync(designer).filter((name) => /\.(html|css|js)$/.test(name) && name !== 'su55if-module.js');
  const bytes = files.reduce((sum, name) => sum + fs.statSync(path.join(designer, name)).size, 0);
  console.log(`page and module: ${(bytes / 1e6).toFixed(2)} MB in ${files.join(', ')} (target <= 1.5 MB)`);
}
main().catch((error) => { console.error(error); process.exit(1); });
