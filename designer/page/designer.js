// The cycle designer's page. Every verdict, message, number and picture
// comes from the engine in the worker (window.su55if), and so does the
// cycle file saved: the page gives the table's rows as typed and shows
// what comes back, each diagnostic at the row and cell it concerns.
// Text from a file, a paste or the address is only ever set as text
// (textContent, value), never as markup.
'use strict';

let quickRun;
// window.su55if: check and run in workers started from the bundled source.
(function () {
  const url = URL.createObjectURL(new Blob([self.su55ifWorkerSource], { type: 'text/javascript' }));
  let nextId = 0;
  function client() {
    const worker = new Worker(url);
    const pending = new Map();
    worker.onmessage = (event) => {
      const call = pending.get(event.data.id);
      if (!call) return;
      if (event.data.progress) {
        if (call.onProgress) call.onProgress(...event.data.progress);
        return;
      }
      pending.delete(event.data.id);
      if ('error' in event.data) call.reject(new Error(event.data.error));
      else call.resolve(event.data.result);
    };
    worker.onerror = (event) => {
      for (const call of pending.values()) call.reject(new Error(event.message));
      pending.clear();
    };
    return {
      call(command, cycle, options, onProgress) {
        const id = ++nextId;
        return new Promise((resolve, reject) => {
          pending.set(id, { resolve, reject, onProgress });
          worker.postMessage({ id, command, cycle, options });
        });
      },
      stop() {
        worker.terminate();
        for (const call of pending.values()) call.reject(new Error('cancelled'));
        pending.clear();
      },
    };
  }
  const checker = client();
  // The page's own short runs (the cycle's chart), in a worker of their
  // own so that no check waits for one.
  let charter = null;
  quickRun = (cycle, options) => {
    charter = charter || client();
    return charter.call('run', cycle, options);
  };
  let runner = null;
  window.su55if = {
    ready: checker.call('example').then(() => undefined),
    example: () => checker.call('example'),
    examples: () => checker.call('examples'),
    // The cycle file of rows [{name, duration, partner}], keeping the
    // comment lines of `text`, the file they came from: {text, diagnostics}.
    writeCycle: (rows, text = null) => checker.call('writeCycle', { rows, text }),
    check: (cycle, options = {}) => checker.call('check', cycle, options),
    // A cycle file's stages as typed, right or wrong: {stages}, or
    // {stages: null, message} when it has none to show.
    stages: (cycle) => checker.call('stages', cycle),
    stageLimit: () => checker.call('stageLimit'),
    // A run in a worker of its own, so that cancel() stops it and nothing else.
    run: (cycle, options = {}, onProgress = null) => {
      runner = runner || client();
      return runner.call('run', cycle, options, onProgress);
    },
    cancel: () => {
      if (runner) runner.stop();
      runner = null;
    },
  };
})();


const $ = (id) => document.getElementById(id);
let cycleName = 'cycle.csv';
let openedText = null;  // the text of the file the table came from, whose comment lines a save keeps
let report = null;  // the engine's reading of the table (check --format json), when it could read it

// The table as the engine takes it.
const cycleOf = () => ({ name: cycleName, rows: stageTable.rows() });

// Rows from the engine's reading of a cycle file (check --format json).
function rowsOf(json) {
  return json.stages.map((s) => ({ name: s.name, duration: String(s.duration), partner: String(s.partner) }));
}

// The engine's report of a check (check --format json), or null when it
// read no cycle (its report of what stopped it has no verdict).
function reportOf(json) {
  const read = json.stdout === '' ? null : JSON.parse(json.stdout);
  return read && read.verdict !== null ? read : null;
}

// A diagnostic in the table's words: the stage, the field and the value as
// typed, then what holds ("Stage 4, duration -10: a duration is 0 or more");
// one about a file the user opened names it, its line and column.
const settingLabels = {
  stopTime: 'Stop at', cycles: 'Stop at, in cycles', outputInterval: 'Output interval',
  chartFrom: 'Chart from', chartTo: 'Chart to', beds: 'Beds',
};
function say(d) {
  const sentence = (text) => text.charAt(0).toUpperCase() + text.slice(1);
  // A run's setting by the field's label, as typed.
  if (settingLabels[d.option]) return `${settingLabels[d.option]}${d.value ? ' ' + d.value : ''}: ${d.rule || d.message}`;
  if (d.kind === 'runStopped') return [...d.libraryRecords, sentence(d.rule) + '.'].join('\n');
  if (d.kind === 'linkDrift') return sentence(d.rule);
  if (d.kind === 'bedMisfit') return [d.message, d.fix.text].join('\n');
  // The library's verdict explained: the stages, their entries and the fix.
  if (d.libraryRecords.length > 0) return [d.message, ...(d.fix ? [d.fix.text] : [])].join('\n');
  if (d.stage && d.field) return `Stage ${d.stage}, ${d.field}${d.value ? ' ' + d.value : ''}: ${d.rule || d.message}`;
  if (d.file && d.file === cycleName && d.line && openedText !== null) {
    return `${d.file}, line ${d.line}${d.column ? ', column ' + d.column : ''}: ${d.message}`;
  }
  return sentence(d.rule || d.message);
}

// A failure of the page's own, as a diagnostic.
const stopped = (message) => ({ kind: 'other', severity: 'error', message, rule: '', libraryRecords: [], fix: null });

// Diagnostics at the rows and cells they concern; the others' words returned.
function showAtCells(diagnostics) {
  const atStage = diagnostics.filter((d) => d.stage);
  const shown = stageTable.mark(atStage.map((d) => ({
    stages: [d.stage, ...(d.partner ? [d.partner] : [])], key: d.field, text: say(d),
  })));
  return diagnostics.filter((d) => !d.stage || !shown).map(say);
}

// The scenario into the address (scenario.js): the table as the engine
// writes it, the page's settings and tables.
let addressing = 0;
let addressWritten = '';
async function writeAddress() {
  const mine = ++addressing;
  try {
    const file = await su55if.writeCycle(stageTable.rows(), openedText);
    if (file.text === null) return;
    const { hash, tablesLeftOut } = await scenario.address({ name: cycleName, cycle: file.text });
    if (mine !== addressing || hash === '') return;
    history.replaceState(null, '', hash);
    addressWritten = location.hash;
    if (tablesLeftOut) {
      tell('The input and events tables are too large for the address: a link to this page brings back ' +
        'the stages and settings without them.');
    }
  } catch {
    // The address keeps the last scenario written.
  }
}

let checking = 0;
let chartTimer = 0;
async function changed() {
  tell('');
  const mine = ++checking;
  const cycle = cycleOf();
  writeAddress();
  let json;
  try {
    json = await checkWithBeds(cycle, { format: 'json', ...scenario.options() });
  } catch (error) {
    json = { exitCode: 2, stdout: '', diagnostics: [stopped(`The check stopped: ${error.message}`)] };
  }
  if (mine !== checking) return;  // a later edit's check will show
  showCheck(json);
  const grid = showBeds(json);
  showReport();
  document.body.dataset.checked = String(mine);
  clearTimeout(chartTimer);
  if (grid) return;
  if (!report || !report.runnable) showPicture(null);
  chartTimer = setTimeout(() => showCycleChart(cycle, mine), 250);
}

// The text report, while it is open.
async function showReport() {
  if (!$('report').parentElement.open) return;
  const mine = checking;
  const result = await checkWithBeds(cycleOf(), scenario.options(), bedsRunOptions());
  if (mine === checking) $('report').textContent = result.stdout;
}

function showCheck(json) {
  const verdict = $('verdict');
  report = reportOf(json);
  if (!report) {
    // The table as typed is no cycle: each fault at its cell.
    verdict.className = 'error';
    verdict.textContent = 'The table has a fault.';
    $('messages').textContent = showAtCells(json.diagnostics).join('\n');
    return;
  }
  verdict.className = report.verdict;
  verdict.textContent = report.verdict === 'accepted'
    ? (report.runnable ? 'The library accepts the cycle.' : 'The library accepts the cycle, but it cannot be run.')
    : 'The library rejected the cycle.';
  const others = showAtCells(report.diagnostics);
  $('messages').textContent = [...report.records, ...others].join('\n');
}

// The cycle's bar with its links over it: the chart of a one-cycle run.
async function showCycleChart(cycle, mine) {
  let svg = null;
  if (report && report.runnable) {
    const d = report.cycleDuration;
    const result = await quickRun(cycle, { chart: true, stopTime: d, outputInterval: d / 400, ...scenario.options() });
    svg = result.chart;
  }
  if (mine !== checking) return;
  showPicture(svg);
}

// A cycle file's bytes (or text) into the table, through the engine's
// reading of it, which tells a file read as Windows-1252; a file with a
// fault leaves the table as it was, with the engine's message.
async function load(name, text) {
  const json = await su55if.check({ name, text }, { format: 'json' });
  const read = reportOf(json);
  if (!read) {
    $('verdict').className = 'error';
    $('verdict').textContent = `${name} was not opened: it has a fault.`;
    $('messages').textContent = json.diagnostics
      .map((d) => `${name}${d.line ? ', line ' + d.line : ''}${d.column ? ', column ' + d.column : ''}: ${d.message}`)
      .join('\n');
    return false;
  }
  cycleName = name;
  openedText = text;
  await stageTable.set(rowsOf(read));
  for (const note of read.diagnostics.filter((d) => d.severity === 'note')) tell(`${name}, line ${note.line}: ${note.message}.`);
  return true;
}

// What the page tells about the table itself: a paste cut at the stage
// limit, an address it could not read.
function tell(text) {
  $('table-notice').textContent = text;
}

// The scenario in the address into the page: the cycle as typed, whatever
// its faults (the check then puts the engine's messages at the cells), and
// the settings and tables. An address the page cannot read, or whose cycle
// has no stages to show, changes nothing, with the reason; the address is
// left as the user made it.
async function loadAddress() {
  if (location.hash === addressWritten) return;
  const unchanged = 'the address was left as it is, and the table and settings unchanged.';
  let read;
  try {
    read = await scenario.read(location.hash.slice(1));
  } catch (error) {
    if (!(error instanceof scenario.Unreadable)) throw error;
    tell(`The address holds no scenario the page can read (${error.message}): ${unchanged}`);
    return;
  }
  const typed = await su55if.stages({ name: 'address', text: read.cycle });
  if (!typed.stages) {
    tell(`The address holds no stages the page can show (${typed.message}): ${unchanged}`);
    return;
  }
  scenario.show(read.fields);
  cycleName = read.name;
  openedText = read.cycle;  // its comment lines stay in the file the engine writes
  await stageTable.set(typed.stages);
}

function download(text, name, type) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([text], { type }));
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 0);
}

// An input or events table: its text, edited in the page or opened.
function tableFile(id) {
  const text = $(id).value;
  return text.trim() === '' ? undefined : { name: $(id).dataset.name || `${id}.csv`, text };
}

// The run's options from the what-if fields; empty fields take the host's
// defaults. A stop in cycles is the engine's --cycles (the end of that
// cycle, durations changed on the way included); every value goes to the
// engine as typed, for its message.
function runOptions() {
  const options = { chart: true, ...scenario.options(), ...bedsRunOptions() };
  const field = (id) => $(id).value.trim();
  const stop = field('stop-time');
  if (stop) {
    options[$('stop-unit').value === 'cycles' ? 'cycles' : 'stopTime'] = stop;
  }
  for (const [id, name] of [['output-interval', 'outputInterval'], ['chart-from', 'chartFrom'], ['chart-to', 'chartTo']]) {
    if (field(id)) options[name] = field(id);
  }
  const inputFile = tableFile('inputs');
  const events = tableFile('events');
  if (inputFile) options.inputFile = inputFile;
  if (events) options.events = events;
  return options;
}

// An output of a run past what the page holds, in the page's words.
function fullOutput(full) {
  const what = full.output === 'chart' ? 'The chart' : 'The timeline';
  const megabytes = Number((full.bytes / 2 ** 20).toPrecision(3));
  return `${what} reached ${megabytes} MB, more than the page can hold: use a longer output interval or a ` +
    'shorter run, or the command-line workbench for a file of that size.';
}

// A run that ended without a result: its message where the result would be.
function runStopped(message) {
  $('progress').value = 0;
  $('run-messages').textContent = message;
  $('warnings').replaceChildren();
  lastRun = null;
  $('downloads').hidden = $('chart').hidden = true;
}

let lastRun = null;
let chartUrl = null;
async function run() {
  const options = runOptions();
  const cycle = cycleOf();
  $('run').disabled = true;
  $('cancel').disabled = false;
  $('progress').value = 0;
  $('run-messages').textContent = 'Running…';
  try {
    const result = await su55if.run(cycle, options, (time, stopTime) => { $('progress').value = time / stopTime; });
    const ok = result.exitCode === 0;
    $('progress').value = ok ? 1 : 0;
    // What the run said, a line each: the drift warnings, or why it stopped.
    const lines = result.outputFull ? [] : result.diagnostics.map(say);
    const warnings = result.diagnostics.filter((d) => d.severity === 'warning').length;
    $('run-messages').textContent = ok ? `Done: ${warnings} warning${warnings === 1 ? '' : 's'}.`
      : result.outputFull ? fullOutput(result.outputFull) : '';
    $('warnings').replaceChildren(...lines.map((line) => {
      const li = document.createElement('li');
      li.textContent = line;
      return li;
    }));
    lastRun = ok ? { cycle, options, result } : null;
    $('downloads').hidden = $('chart').hidden = !ok;
    if (chartUrl) URL.revokeObjectURL(chartUrl);
    chartUrl = ok ? URL.createObjectURL(new Blob([result.chart], { type: 'image/svg+xml' })) : null;
    if (ok) $('chart').src = chartUrl;
  } catch (error) {
    runStopped(error.message === 'cancelled' ? 'Cancelled.' : `The run stopped: ${error.message}`);
  } finally {
    $('run').disabled = false;
    $('cancel').disabled = true;
  }
}

// The last run's timeline as JSON lines: the same run again in that format.
async function downloadJsonLines() {
  const { cycle, options } = lastRun;
  const { chart, chartFrom, chartTo, beds, ...rest } = options;
  $('download-json').disabled = true;
  try {
    const result = await su55if.run(cycle, { ...rest, format: 'json' });
    if (result.exitCode === 0) download(result.stdout, 'timeline.jsonl', 'application/jsonl');
    else {
      $('run-messages').textContent = result.outputFull ? fullOutput(result.outputFull)
        : result.diagnostics.map(say).join('\n');
    }
  } catch (error) {
    $('run-messages').textContent = `The timeline as JSON lines stopped: ${error.message}`;
  } finally {
    $('download-json').disabled = false;
  }
}

// The name a cycle is saved under, whoever chose its name (an address is
// anyone's): the name's stem, without folders or extension, each character
// a file name may not hold (or that would reorder the name as shown) as _,
// then .csv; cycle.csv when no stem is left.
function savedName(name) {
  const base = name.split(/[\\/]/).pop();
  const dot = base.lastIndexOf('.');
  const stem = Array.from(dot >= 0 ? base.slice(0, dot) : base).slice(0, 100).join('')
    .replace(/[<>:"|?*\u0000-\u001f\u007f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g, '_')
    .replace(/^[. ]+|[. ]+$/g, '');
  if (stem === '') return 'cycle.csv';
  return /^(con|prn|aux|nul|com\d|lpt\d)$/i.test(stem) ? `_${stem}.csv` : `${stem}.csv`;
}

// The table as a cycle file, written by the engine: the comment lines of
// the file it came from stay where they were.
async function save() {
  const file = await su55if.writeCycle(stageTable.rows(), openedText);
  if (file.text === null) {
    $('messages').textContent = showAtCells(file.diagnostics).join('\n');
    return;
  }
  download(file.text, savedName(cycleName), 'text/csv');
}

function opener(id, action) {
  $(id).addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (file) await action(file);
    event.target.value = '';
  });
}

async function start() {
  stageTable.onChange = changed;
  stageTable.onCut = (count, limit) => tell(`A cycle has at most ${limit} stages: the ${count} ` +
    `row${count === 1 ? '' : 's'} past stage ${limit} ${count === 1 ? 'was' : 'were'} left out.`);
  $('add').addEventListener('click', () => stageTable.add());
  $('undo').addEventListener('click', () => stageTable.undo());
  $('redo').addEventListener('click', () => stageTable.redo());
  document.addEventListener('keydown', (event) => {
    if (!(event.ctrlKey || event.metaKey) || !event.target.closest || event.target.closest('#what-if')) return;
    const key = event.key.toLowerCase();
    if (key === 'z' || key === 'y') {
      event.preventDefault();
      if (key === 'y' || event.shiftKey) stageTable.redo(); else stageTable.undo();
    }
  });
  // New: one stage, and no file's comment lines.
  $('new').addEventListener('click', () => {
    cycleName = 'cycle.csv';
    openedText = null;
    stageTable.set([{ name: '', duration: '10', partner: '0' }]);
  });
  scenario.watch((id) => { if (['beds', 'time-unit', 'twin'].includes(id)) changed(); else writeAddress(); });
  startBeds();
  opener('open', async (file) => load(file.name, new Uint8Array(await file.arrayBuffer())));
  for (const id of ['inputs', 'events']) {
    opener(`open-${id}`, async (file) => {
      $(id).value = await file.text();
      $(id).dataset.name = file.name;
      writeAddress();
    });
    $(id).addEventListener('input', () => { if ($(id).value === '') delete $(id).dataset.name; });
  }
  // The file buttons answer Enter and Space, as buttons do.
  for (const label of document.querySelectorAll('label.button')) {
    label.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); label.querySelector('input').click(); }
    });
  }
  $('save').addEventListener('click', save);
  $('report').parentElement.addEventListener('toggle', showReport);
  $('run').addEventListener('click', run);
  $('cancel').addEventListener('click', () => su55if.cancel());
  $('download-csv').addEventListener('click', () => download(lastRun.result.stdout, 'timeline.csv', 'text/csv'));
  $('download-json').addEventListener('click', downloadJsonLines);
  $('download-svg').addEventListener('click', () => download(lastRun.result.chart, 'chart.svg', 'image/svg+xml'));
  // A link followed while the page is open.
  window.addEventListener('hashchange', () => { if (location.hash.length > 1) loadAddress(); });
  await su55if.ready;
  stageTable.limit = await su55if.stageLimit();
  if (location.hash.length > 1) {
    await loadAddress();
    return;
  }
  const example = await su55if.example();
  await load(example.name, example.text);
}
start().finally(() => { document.body.dataset.ready = 'true'; });
